#include "support/ConverterEvents.h"

#include "converter/FFmpegTask.h"

#include <unistd.h>

namespace mobivert::test {

void ConverterEvents::Attach(converter::TAVConverter& converter, RecordedEvents what) {
    const bool published = what.PublishedNames;
    converter.OnTerminate = [this, &converter, published](int index, bool finished, bool exception,
                                                          const std::string& message) {
        TerminateRecord end{
            index, finished, exception, message, {}, gettid(), std::chrono::steady_clock::now()};
        if (published && index >= 0)
            end.Published = converter.Tasks(index)->PublishedName;
        std::lock_guard lock(Mutex);
        Terminates.push_back(std::move(end));
        Changed.notify_all();
    };
    if (what.Logs) {
        converter.OnLog = [this](int index, converter::TLogLevel level, const std::string& text) {
            std::lock_guard lock(Mutex);
            Logs.push_back({index, level, text});
            Changed.notify_all();
        };
    }
    if (what.Progress) {
        converter.OnProgress = [this](int index, int frame, int fps, int current, float quality,
                                      float bitRate, int64_t size, int total) {
            if (BeforeProgress)
                BeforeProgress(index);
            std::lock_guard lock(Mutex);
            Progress.push_back({index, frame, fps, current, quality, bitRate, size, total});
            ++ProgressCount;
            Changed.notify_all();
        };
    }
}

bool ConverterEvents::BatchEndedLocked() const {
    return !Terminates.empty() && Terminates.back().Index == -1;
}

bool ConverterEvents::BatchEnded() {
    std::lock_guard lock(Mutex);
    return BatchEndedLocked();
}

bool ConverterEvents::WaitBatchEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(Mutex);
    return Changed.wait_for(lock, timeout, [this] { return BatchEndedLocked(); });
}

bool ConverterEvents::WaitProgressOrEnd(int index, std::chrono::milliseconds timeout) {
    std::unique_lock lock(Mutex);
    return Changed.wait_for(lock, timeout, [this, index] {
        if (BatchEndedLocked())
            return true;
        for (const ProgressReport& report : Progress)
            if (report.Index == index)
                return true;
        return false;
    });
}

std::vector<int> ConverterEvents::TerminateOrder() {
    std::lock_guard lock(Mutex);
    std::vector<int> order;
    for (const TerminateRecord& end : Terminates)
        order.push_back(end.Index);
    return order;
}

std::vector<TerminateRecord> ConverterEvents::TaskEnds() {
    std::lock_guard lock(Mutex);
    std::vector<TerminateRecord> ends;
    for (const TerminateRecord& end : Terminates)
        if (end.Index >= 0)
            ends.push_back(end);
    return ends;
}

TerminateRecord ConverterEvents::EndOf(int index) {
    std::lock_guard lock(Mutex);
    for (auto end = Terminates.rbegin(); end != Terminates.rend(); ++end)
        if (end->Index == index)
            return *end;
    TerminateRecord none;
    none.Index = index;
    return none;
}

std::vector<LogRecord> ConverterEvents::LogLines() {
    std::lock_guard lock(Mutex);
    return Logs;
}

std::vector<ProgressReport> ConverterEvents::ProgressReports() {
    std::lock_guard lock(Mutex);
    return Progress;
}

int ConverterEvents::ProgressCountOf(int index) {
    std::lock_guard lock(Mutex);
    int count = 0;
    for (const ProgressReport& report : Progress)
        count += report.Index == index ? 1 : 0;
    return count;
}

int ConverterEvents::LastPositionOf(int index) {
    std::lock_guard lock(Mutex);
    for (auto report = Progress.rbegin(); report != Progress.rend(); ++report)
        if (report->Index == index)
            return report->CurrentMs;
    return 0;
}

void ConverterEvents::Clear() {
    std::lock_guard lock(Mutex);
    Terminates.clear();
    Logs.clear();
    Progress.clear();
    ProgressCount = 0;
}

} // namespace mobivert::test
