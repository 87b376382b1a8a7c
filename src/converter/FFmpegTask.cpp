#include "converter/FFmpegTask.h"

namespace mobivert::converter {

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task) {
    task->Index = Count();
    tasks_.push_back(std::move(task));
    return Count() - 1;
}

void TFFmpegList::Delete(int index) {
    Take(index);
}

std::unique_ptr<TFFmpeg> TFFmpegList::Take(int index) {
    if (index < 0 || index >= Count())
        return nullptr;
    std::unique_ptr<TFFmpeg> task = std::move(tasks_[index]);
    tasks_.erase(tasks_.begin() + index);
    for (int i = index; i < Count(); ++i)
        tasks_[i]->Index = i;
    return task;
}

void TFFmpegList::Clear() {
    tasks_.clear();
}

TFFmpeg* TFFmpegList::operator[](int index) const {
    return index >= 0 && index < Count() ? tasks_[index].get() : nullptr;
}

TFFmpeg* TFFmpegList::FindByThreadID(pid_t threadId) const {
    for (const auto& task : tasks_)
        if (task->ThreadID == threadId)
            return task.get();
    return nullptr;
}

} // namespace mobivert::converter
