#include "app/cli/SignalWatcher.h"

#include "app/cli/StopSignals.h"
#include "converter/WorkFile.h"

#include <pthread.h>
#include <unistd.h>

namespace mobivert::cli {

TSignalWatcher::TSignalWatcher(std::atomic<bool>& stopRequested, TMainLoopQueue& queue) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGUSR2); // ends the watcher itself
    pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    thread_ = std::thread([this, &stopRequested, &queue] {
        TStopSignals requests;
        for (;;) {
            siginfo_t info{};
            int signal = sigwaitinfo(&signals_, &info);
            if (signal < 0)
                continue;
            if (signal == SIGUSR2 && info.si_pid == getpid())
                return;
            if (signal == SIGUSR2)
                continue;
            switch (requests.Receive(TStopSignals::Clock::now())) {
            case TStopSignals::TAction::Ignore:
                break;
            case TStopSignals::TAction::Stop:
                stopRequested = true;
                queue.Wake();
                break;
            case TStopSignals::TAction::Quit: {
                // No unfinished file is left behind: the running tasks' work files go.
                converter::RemoveLiveWorkFiles();
                const char text[] = "\nmobivert-cli: interrupted\n";
                [[maybe_unused]] ssize_t written = write(STDERR_FILENO, text, sizeof text - 1);
                _exit(130);
            }
            }
        }
    });
}

TSignalWatcher::~TSignalWatcher() {
    pthread_kill(thread_.native_handle(), SIGUSR2);
    thread_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

} // namespace mobivert::cli
