#pragma once
// A batch's pre-loaded workers: the worker program started once and kept, which loads and sets
// up the libraries once and then runs task after task in its own process. A task so pays
// neither a program start nor the loading of the libraries, and a library abort or crash still
// ends only the task that was running: the worker goes with it and the next task gets another.
// A worker that misbehaves (does not answer in time, cannot take the task's priority, or finds
// itself unfit after a task) is replaced the same way.

#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace mobivert::converter {

// The argument that makes the worker program a pre-loaded worker.
inline constexpr const char* WORKER_SERVE_ARGUMENT = "--serve";
// On a pre-loaded worker's own socket: the converter's request for a task (followed by the
// task's nice value, with the task's channel and output descriptor attached), and the worker's
// answers: ready once the libraries are loaded, running once it has taken the task, refused
// when it cannot.
inline constexpr const char* WORKER_TASK_REQUEST = "task ";
inline constexpr const char* WORKER_READY_ANSWER = "ready";
inline constexpr const char* WORKER_RUNNING_ANSWER = "running";
inline constexpr const char* WORKER_REFUSED_ANSWER = "refused";

// One pre-loaded worker, a child of this process in a process group of its own.
class TServingWorker {
public:
    TServingWorker() = default;
    // Its socket is closed, so it ends by itself; one that does not end soon is killed. It is
    // waited for.
    ~TServingWorker();
    TServingWorker(const TServingWorker&) = delete;
    TServingWorker& operator=(const TServingWorker&) = delete;

    // Starts the program as a pre-loaded worker (at the calling thread's nice value) and hands
    // it the libraries' settings; false with the reason in error.
    bool Start(const std::string& program, const std::string& libraryDirectory, bool versioned,
               std::string& error);
    // Hands it a task: channel becomes the task's channel and outputFd (when 0 or more) its
    // output, at the given nice value. True once it answered that it runs the task.
    bool Begin(int channel, int outputFd, int nice);
    // Closes its socket, which asks it to end.
    void Dismiss();
    // Kills it (when it still runs) and waits for it; its wait status.
    int Kill();
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int socket_ = -1;
    bool ready_ = false;
};

class TWorkerPool {
public:
    TWorkerPool(std::string program, std::string libraryDirectory, bool versioned);
    // The idle workers are asked to end, and waited for.
    ~TWorkerPool();
    TWorkerPool(const TWorkerPool&) = delete;
    TWorkerPool& operator=(const TWorkerPool&) = delete;

    // Starts count workers now, so that their libraries load while the batch gets going.
    void StartAhead(int count);
    // A worker that has taken the task on channel (outputFd its output, when 0 or more) at the
    // calling thread's nice value: an idle one, or one this thread starts when none takes it;
    // null when no worker could be had.
    std::unique_ptr<TServingWorker> Begin(int channel, int outputFd);
    // A worker whose task ended with its end report waits for the next task.
    void TakeBack(std::unique_ptr<TServingWorker> worker);
    // A worker whose task ended otherwise is killed and waited for; its wait status.
    int Discard(std::unique_ptr<TServingWorker> worker);
    // The process ids of its workers, idle and busy.
    std::vector<pid_t> Pids() const;

private:
    std::unique_ptr<TServingWorker> StartOne();
    std::unique_ptr<TServingWorker> TakeIdle();
    void Lend(pid_t pid);
    void Unlend(pid_t pid);

    const std::string program_;
    const std::string libraryDirectory_;
    const bool versioned_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<TServingWorker>> idle_;
    std::vector<pid_t> busy_;
};

} // namespace mobivert::converter
