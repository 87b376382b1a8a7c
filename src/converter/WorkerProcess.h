#pragma once
// A worker process as the converter sees it: the program that runs one task's transcode in a
// process of its own, so that a library abort or crash ends that task only.

#include <string>
#include <sys/types.h>

namespace mobivert::converter {

class TWorkerStarter;

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

class TWorkerProcess {
public:
    TWorkerProcess() = default;
    // A worker still running is killed and waited for.
    ~TWorkerProcess();
    TWorkerProcess(const TWorkerProcess&) = delete;
    TWorkerProcess& operator=(const TWorkerProcess&) = delete;

    // Starts the program (with posix_spawn, never a bare fork) in a process group of its own,
    // so a terminal's Ctrl+C reaches only the converter, which stops the worker itself. The
    // worker gets one end of a socket as descriptor 3, /dev/null as its input and, when
    // outputFd is 0 or more, that open file as descriptor WORKER_OUTPUT_DESCRIPTOR; nothing
    // else. False with the reason in error.
    // With a starter, the task's process is forked from that pre-loaded worker instead (the
    // same descriptors, a process group of its own, this thread's nice value); a starter that
    // cannot do it leaves the start to the program.
    bool Start(const std::string& program, std::string& error, int outputFd = -1,
               TWorkerStarter* starter = nullptr);
    // The converter's end of the socket.
    int Socket() const { return socket_; }
    // Closes the socket and waits for the worker to end; its wait status.
    int Wait();

private:
    pid_t pid_ = -1;
    int socket_ = -1;
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
