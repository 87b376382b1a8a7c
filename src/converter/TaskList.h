#pragma once
// The ordered list of the converter's tasks. It names the task type only, so that whoever holds
// the list need not see the engine session a task is made of.

#include <memory>
#include <sys/types.h>
#include <vector>

namespace mobivert::converter {

class TFFmpeg;

class TFFmpegList {
public:
    TFFmpegList() = default;
    ~TFFmpegList();
    TFFmpegList(TFFmpegList&&) = default;
    TFFmpegList& operator=(TFFmpegList&&) = default;
    int Add(std::unique_ptr<TFFmpeg> task);
    void Delete(int index);
    // Takes the task out of the list (later tasks move down) without freeing it, so that the
    // caller can free it where no lock is held: freeing waits for the task's threads.
    std::unique_ptr<TFFmpeg> Take(int index);
    // The same for many tasks at once (indexes in any order), in one pass over the list.
    std::vector<std::unique_ptr<TFFmpeg>> TakeMany(std::vector<int> indexes);
    void Clear();
    int Count() const { return static_cast<int>(tasks_.size()); }
    TFFmpeg* operator[](int index) const;
    TFFmpeg* FindByThreadID(pid_t threadId) const;

private:
    std::vector<std::unique_ptr<TFFmpeg>> tasks_;
};

} // namespace mobivert::converter
