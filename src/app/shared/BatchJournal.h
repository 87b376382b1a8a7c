#pragma once
// The batch journal: a small file that records a running batch (its sources, preset, options,
// the output names chosen and each file's state) so that a batch whose program was killed or
// whose machine went down can be finished later. It lives in
// $XDG_STATE_HOME/Corvel/Mobivert/ (~/.local/state/Corvel/Mobivert/ by default). The batch is
// written whole at its start (beside, flushed, renamed over); each file's end then appends one
// flushed line, so that a batch of thousands of files costs the same per file as one. While its
// program runs, the program holds a lock on a companion file; a journal whose lock is free
// belongs to a batch that did not end.

#include "app/shared/ConversionDriver.h"

#include <mutex>
#include <string>
#include <vector>

namespace mobivert::app {

enum class TJournalState { Pending, Done, Warnings, Failed, Canceled, Refused };

struct TJournalFile {
    std::string Source;
    std::string Output; // the name chosen for it, or the name it got once ended
    std::string Part;   // its work file while it is written (named by earlier versions only)
    TJournalState State = TJournalState::Pending;
    int Task = -1; // its task in the running batch (not stored)
};

struct TJournalBatch {
    std::string Program; // "mobivert" or "mobivert-cli"
    TBatchSettings Settings;
    int Jobs = 1;
    std::vector<TJournalFile> Files;
};

// The folder of the journals.
std::string JournalFolder();

// The batch as configured by the driver: every source with its chosen output and work file,
// Refused for those that got no task.
TJournalBatch JournalOf(const std::string& program, const TBatchSettings& settings, int jobs,
                        const std::vector<TBatchSource>& sources,
                        const converter::TAVConverter& converter);

// The text of a journal and back; Parse gives false with the reason when the text is damaged
// or from a version it does not know.
std::string FormatJournal(const TJournalBatch& batch);
bool ParseJournal(const std::string& text, TJournalBatch& batch, std::string& reason);

// A lock held on a file for as long as the object lives (released by the kernel when the
// process dies).
class TFileLock {
public:
    TFileLock() = default;
    ~TFileLock() { Release(); }
    TFileLock(TFileLock&& other) noexcept;
    TFileLock& operator=(TFileLock&& other) noexcept;
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;
    // Takes the lock without waiting; false when another process holds it.
    bool TryLock(const std::string& path);
    void Release();

private:
    int fd_ = -1;
};

class TBatchJournal {
public:
    TBatchJournal() = default;
    ~TBatchJournal();
    TBatchJournal(const TBatchJournal&) = delete;
    TBatchJournal& operator=(const TBatchJournal&) = delete;

    // Starts recording the batch; false with the reason when the journal cannot be written
    // (the batch runs all the same, unrecorded).
    bool Begin(const TJournalBatch& batch, std::string& error);
    // The end of a task, from whatever thread reports it.
    void TaskEnded(int task, const converter::TTaskStatus& ended);
    // The batch ended (completed or stopped): nothing is left to resume.
    void End();
    bool Active() const { return !path_.empty(); }
    std::string Path() const { return path_; }

private:
    bool OpenForEnds(std::string& error);

    std::mutex mutex_;
    TJournalBatch batch_;
    std::string path_;
    TFileLock lock_;
    int appendFd_ = -1;           // the journal, open for appending ends
    std::vector<int> fileOfTask_; // index into batch_.Files by task, -1 for none
};

// The journal of a batch whose program is gone, locked for the one who resumes it.
struct TUnfinishedBatch {
    std::string Path;
    TJournalBatch Batch;
    TFileLock Lock;
    // The files not yet converted.
    std::vector<std::string> PendingSources() const;
};

// The journals of batches whose programs are gone. A journal that is damaged or from an
// unknown version is set aside (renamed to end in ".damaged") and a message says so.
std::vector<TUnfinishedBatch> FindUnfinishedBatches(std::vector<std::string>& messages);

// Removes the work files the dead run left (before a new run may create files of the same
// names) and forgets them.
void RemoveLeftoverWorkFiles(TUnfinishedBatch& batch);

// Removes the leftover work files, then the journal itself; for a batch that was resumed
// (under a new journal) or that the user declined.
void DiscardUnfinishedBatch(TUnfinishedBatch& batch);

} // namespace mobivert::app
