#include "converter/WorkerProcess.h"

#include "converter/WorkerPool.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace mobivert::converter {

std::string DefaultWorkerProgram() {
    if (const char* named = std::getenv(WORKER_ENVIRONMENT))
        return named;
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return (self.parent_path() / WORKER_PROGRAM_NAME).string();
}

bool IsExecutable(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

TWorkerProcess::TWorkerProcess() = default;

TWorkerProcess::~TWorkerProcess() {
    End();
}

pid_t SpawnWorker(const std::string& program, const char* argument, int channel, int outputFd,
                  std::string& error) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // dup2 clears close-on-exec on the copy; the worker's end keeps no other descriptor.
    posix_spawn_file_actions_adddup2(&actions, channel, 3);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outputFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outputFd, WORKER_OUTPUT_DESCRIPTOR);
    posix_spawn_file_actions_addclosefrom_np(&actions, WORKER_OUTPUT_DESCRIPTOR + 1);
    posix_spawnattr_setpgroup(&attributes, 0);
    // Signals the converter ignores or blocks are the worker's own again.
    sigset_t none, usual;
    sigemptyset(&none);
    sigemptyset(&usual);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD})
        sigaddset(&usual, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &usual);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
    std::string name = program;
    std::string extra = argument ? argument : "";
    char* argv[] = {name.data(), argument ? extra.data() : nullptr, nullptr};
    pid_t pid = -1;
    int result = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        error = "cannot start the worker " + program + ": " + std::strerror(result);
        return -1;
    }
    return pid;
}

namespace {

bool MakeChannel(int ends[2], std::string& error) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0)
        return true;
    error = std::string("cannot start the worker: ") + std::strerror(errno);
    return false;
}

} // namespace

bool TWorkerProcess::Start(const std::string& program, std::string& error, int outputFd,
                           TWorkerPool* pool) {
    int ends[2];
    if (!MakeChannel(ends, error))
        return false;
    pool_ = pool;
    lent_ = pool ? pool->Begin(ends[1], outputFd) : nullptr;
    if (lent_) {
        // The worker holds its own copy of its end now.
        close(ends[1]);
        socket_ = ends[0];
        return true;
    }
    pid_ = SpawnWorker(program, nullptr, ends[1], outputFd, error);
    close(ends[1]);
    if (pid_ < 0) {
        close(ends[0]);
        return false;
    }
    socket_ = ends[0];
    return true;
}

int TWorkerProcess::WaitForProgram() {
    if (socket_ >= 0) {
        close(socket_);
        socket_ = -1;
    }
    int status = 0;
    if (pid_ > 0) {
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    return status;
}

void TWorkerProcess::Release() {
    if (lent_)
        pool_->TakeBack(std::move(lent_));
    WaitForProgram();
}

int TWorkerProcess::End() {
    if (lent_) {
        const int status = pool_->Discard(std::move(lent_));
        WaitForProgram();
        return status;
    }
    if (pid_ > 0)
        kill(pid_, SIGKILL);
    return WaitForProgram();
}

std::string UnexpectedEndMessage(int waitStatus, const std::string& lastLogLine) {
    std::string message = "the conversion stopped unexpectedly: ";
    if (WIFSIGNALED(waitStatus)) {
        const char* name = sigabbrev_np(WTERMSIG(waitStatus));
        message +=
            name ? std::string("SIG") + name : "signal " + std::to_string(WTERMSIG(waitStatus));
    } else {
        message += "exit status " + std::to_string(WEXITSTATUS(waitStatus));
    }
    if (!lastLogLine.empty())
        message += "; last log line: " + lastLogLine;
    return message;
}

} // namespace mobivert::converter
