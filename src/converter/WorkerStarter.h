#pragma once
// The pre-loaded worker: the worker program started once for a batch, which loads and sets up
// the libraries once and then starts each task's worker process by forking itself. A task so
// pays neither a program start nor the loading of the libraries, and still runs in a process
// of its own: the forked process is handed over to be this process's child (this process is
// made the subreaper of its descendants), is waited for and killed like a spawned worker, and
// a library abort or crash in it ends that task alone.

#include <mutex>
#include <string>
#include <sys/types.h>

namespace mobivert::converter {

// The argument that makes the worker program the pre-loaded worker.
inline constexpr const char* WORKER_SERVE_ARGUMENT = "--serve";

class TWorkerStarter {
public:
    TWorkerStarter() = default;
    // Its socket is closed, so the pre-loaded worker ends; the task processes it started do not.
    ~TWorkerStarter();
    TWorkerStarter(const TWorkerStarter&) = delete;
    TWorkerStarter& operator=(const TWorkerStarter&) = delete;

    // Starts the program as the pre-loaded worker and asks it to load the libraries; false with
    // the reason in error.
    bool Start(const std::string& program, const std::string& libraryDirectory, bool versioned,
               std::string& error);
    // Forks a task's worker process with channel as its descriptor 3 and outputFd (when 0 or
    // more) as its output descriptor, at the calling thread's nice value; its pid, or -1 when
    // the pre-loaded worker is gone or does not answer (it is then no longer asked, the
    // channel is shut down, and any process it forked for the request is waited for).
    pid_t StartTask(int channel, int outputFd);
    // False once the pre-loaded worker failed to start a task.
    bool Alive() const;
    // Its process id, -1 once it has gone.
    pid_t Pid() const;

private:
    bool AwaitReady();
    void Abandon();

    mutable std::mutex mutex_;
    pid_t pid_ = -1;
    int socket_ = -1;
    bool ready_ = false;
};

} // namespace mobivert::converter
