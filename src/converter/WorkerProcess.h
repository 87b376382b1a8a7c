#pragma once
// A worker process as the converter sees it: the program that runs one task's transcode in a
// process of its own, so that a library abort or crash ends that task only.

#include <memory>
#include <string>
#include <sys/types.h>

namespace mobivert::converter {

class TServingWorker;
class TWorkerPool;

// The environment variable that names the worker program; "none" (or any path that is not an
// executable) runs every task in the converter's own process.
inline constexpr const char* WORKER_ENVIRONMENT = "MOBIVERT_WORKER";
inline constexpr const char* WORKER_PROGRAM_NAME = "mobivert-worker";
// The worker's descriptor of the output it writes, when the converter hands it one.
inline constexpr int WORKER_OUTPUT_DESCRIPTOR = 4;

// The worker program to use when the component names none: $MOBIVERT_WORKER when set,
// otherwise mobivert-worker in the folder of the running executable.
std::string DefaultWorkerProgram();

// True when path names a file this process may execute.
bool IsExecutable(const std::string& path);

// The worker that runs one task: a pre-loaded worker lent by the batch's pool, or the program
// started for the task alone.
class TWorkerProcess {
public:
    TWorkerProcess();
    // A worker still running the task is killed and waited for.
    ~TWorkerProcess();
    TWorkerProcess(const TWorkerProcess&) = delete;
    TWorkerProcess& operator=(const TWorkerProcess&) = delete;

    // Starts the program (with posix_spawn, never a bare fork) in a process group of its own,
    // so a terminal's Ctrl+C reaches only the converter, which stops the worker itself. The
    // worker gets one end of a socket as descriptor 3, /dev/null as its input and, when
    // outputFd is 0 or more, that open file as descriptor WORKER_OUTPUT_DESCRIPTOR; nothing
    // else. False with the reason in error.
    // With a pool, one of its pre-loaded workers takes the task instead (the same channel and
    // output, at this thread's nice value); when none can, the program is started for it.
    bool Start(const std::string& program, std::string& error, int outputFd = -1,
               TWorkerPool* pool = nullptr);
    // The converter's end of the socket.
    int Socket() const { return socket_; }
    // The task ended with its end report: a pre-loaded worker goes back to its pool for the
    // next task, a program started for the task is waited for.
    void Release();
    // The task ended without it: the worker is killed when it still runs, and waited for; its
    // wait status.
    int End();

private:
    int WaitForProgram();

    pid_t pid_ = -1;
    int socket_ = -1;
    TWorkerPool* pool_ = nullptr;
    std::unique_ptr<TServingWorker> lent_;
};

// Starts the worker program with channel as its descriptor 3, /dev/null as its input, outputFd
// (when 0 or more) as WORKER_OUTPUT_DESCRIPTOR and nothing else, in a process group of its own
// with the usual signals at their defaults; argument, when given, is its one argument. Its
// pid, or -1 with the reason in error.
pid_t SpawnWorker(const std::string& program, const char* argument, int channel, int outputFd,
                  std::string& error);

// The failure text of a worker that ended without its end report: "the conversion stopped
// unexpectedly: SIGABRT" (or "exit status N"), followed by its last log line when there is one.
std::string UnexpectedEndMessage(int waitStatus, const std::string& lastLogLine);

} // namespace mobivert::converter
