#include "app/shared/BatchRunner.h"

#include <optional>
#include <utility>

namespace mobivert::app {

TFileState EndState(bool finished, bool failed, const std::string& message) {
    if (failed)
        return TFileState::Failed;
    if (!finished)
        return TFileState::Canceled;
    // Also when the stop came while the output was being completed. A finished task's message
    // tells what its output lacks.
    return message.empty() ? TFileState::Done : TFileState::Warnings;
}

TBatchRunner::TBatchRunner(TBatchListener& listener, TPostToOwner postToOwner,
                           TRunnerOptions options)
    : listener_(listener), post_(std::move(postToOwner)), options_(options),
      converter_(std::make_unique<converter::TAVConverter>()) {
    ConnectConverter();
}

TBatchRunner::~TBatchRunner() {
    closing_ = true;
    converter_.reset();
}

int64_t TBatchRunner::NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 epoch_)
        .count();
}

void TBatchRunner::ConnectConverter() {
    // The converter raises its events on its own threads while holding its lock, and the
    // owner's thread takes that lock for Stop and Pause: each event is only handed over here,
    // in the order it was raised, and never waits for the owner.
    if (options_.ForwardLogs)
        converter_->OnLog = [this](int task, converter::TLogLevel level, const std::string& text) {
            if (closing_)
                return;
            // A line of the tasks' set-up is logged on the owner's own thread, before Begin
            // opens the batch: it is shown at once, since a posted one would come after Begin
            // and be dropped as a report of the batch before.
            if (std::this_thread::get_id() == owner_) {
                listener_.TaskLog(task, level, text);
                return;
            }
            const int generation = generation_;
            post_([this, generation, task, level, text] {
                if (generation == generation_)
                    listener_.TaskLog(task, level, text);
            });
        };
    converter_->OnProgress = [this](int task, int, int, int currentMs, float, float, int64_t,
                                    int totalMs) {
        if (closing_)
            return;
        const int generation = generation_;
        post_([this, generation, task, currentMs, totalMs] {
            if (generation == generation_)
                TaskProgress(task, currentMs, totalMs);
        });
    };
    converter_->PublishOutputs = true;
    converter_->OnTerminate = [this](int task, bool finished, bool failed,
                                     const std::string& message) {
        // Recorded before anything else, on the thread that ends the task.
        std::string published;
        bool partial = false;
        if (const std::optional<converter::TTaskStatus> status = converter_->TaskStatus(task)) {
            journal_.TaskEnded(task, *status);
            published = status->PublishedName;
            partial = status->PartialOutput;
        }
        if (closing_)
            return;
        const int generation = generation_;
        post_([this, generation, task, finished, failed, message, published, partial] {
            if (generation != generation_)
                return;
            if (task < 0)
                BatchEnd();
            else
                TaskEnded(task, finished, failed, message, published, partial);
        });
    };
}

bool TBatchRunner::LoadLibraries(const std::string& directory) {
    return TConversionDriver(*converter_).LoadLibraries(directory);
}

void TBatchRunner::BuildTasks(std::vector<TBatchSource>& sources, const TBatchSettings& settings) {
    TConversionDriver driver(*converter_);
    driver.LoadSources(sources, settings);
    driver.ConfigureOutputs(sources, settings);
    TakeFiles(sources);
}

void TBatchRunner::ConfigureOutputs(std::vector<TBatchSource>& sources,
                                    const TBatchSettings& settings) {
    TConversionDriver(*converter_).ConfigureOutputs(sources, settings);
    TakeFiles(sources);
}

void TBatchRunner::TakeFiles(const std::vector<TBatchSource>& sources) {
    files_.assign(converter_->TaskCount(), TBatchFile{});
    for (const TBatchSource& source : sources) {
        if (source.Task < 0 || source.Task >= static_cast<int>(files_.size()))
            continue;
        TBatchFile& file = files_[source.Task];
        file.Source = source.Path;
        file.Task = source.Task;
        file.Output = source.OutputPath;
    }
}

bool TBatchRunner::Begin(const std::string& program, const TBatchSettings& settings, int jobs,
                         const std::vector<TBatchSource>& sources, std::string& journalError,
                         const std::vector<TSourceWork>& works) {
    journal_.End();
    const bool recorded =
        journal_.Begin(JournalOf(program, settings, jobs, sources, *converter_), journalError);
    ++generation_;
    fileClocks_.clear();
    counts_ = {};
    paused_ = false;
    stopping_ = false;
    batchClock_.Start(converter_->TaskCount(), NowMs());
    // Each file counts for the work it holds, so that one long file is not a seventh of a
    // batch of seven.
    if (works.size() == sources.size()) {
        const std::vector<double> weights = WorkWeights(works);
        for (size_t i = 0; i < sources.size(); ++i)
            if (sources[i].Task >= 0)
                batchClock_.SetWeight(sources[i].Task, weights[i]);
    }
    return recorded;
}

void TBatchRunner::Start(int jobs) {
    converter_->StartConvert(jobs);
}

void TBatchRunner::Pause() {
    converter_->PauseConvert();
    HoldClocks(true);
}

void TBatchRunner::Resume() {
    converter_->ResumeConvert();
    HoldClocks(false);
}

void TBatchRunner::HoldClocks(bool paused) {
    paused_ = paused;
    // Wall time spent paused counts neither for the speeds nor for the batch's time.
    const int64_t now = NowMs();
    paused ? batchClock_.Pause(now) : batchClock_.Resume(now);
    for (auto& [task, clock] : fileClocks_)
        paused ? clock.Pause(now) : clock.Resume(now);
}

void TBatchRunner::Stop() {
    stopping_ = true;
    // Held tasks are not held again as they end.
    paused_ = false;
    converter_->StopConvert();
}

void TBatchRunner::EndUnstarted() {
    journal_.End();
    // Nothing ran, so no file has an end of its own to show.
    for (TBatchFile& file : files_)
        if (file.Task >= 0 && !HasEnded(file.State))
            EndFile(file, TFileState::Canceled, "");
    listener_.BatchEnded(counts_);
}

void TBatchRunner::ClearTasks() {
    converter_->ClearTasks();
    ++generation_;
    files_.clear();
}

const TBatchFile* TBatchRunner::FileOfTask(int task) const {
    return task >= 0 && task < static_cast<int>(files_.size()) && files_[task].Task >= 0
               ? &files_[task]
               : nullptr;
}

void TBatchRunner::TaskProgress(int task, int currentMs, int totalMs) {
    if (options_.KnownLengthsOnly && totalMs <= 0)
        return;
    // A report queued before the file's end report arrived changes nothing after it.
    const TBatchFile* known = FileOfTask(task);
    if (known && HasEnded(known->State))
        return;
    const TFileFigures figures = fileClocks_[task].Update(currentMs, totalMs, NowMs());
    if (figures.Percent >= 0)
        batchClock_.FileProgress(task, figures.Percent / 100.0);
    if (known) {
        TBatchFile& file = files_[task];
        file.State = TFileState::Running;
        file.Percent = figures.Percent;
    }
    listener_.TaskProgress(task, currentMs, figures);
}

void TBatchRunner::EndFile(TBatchFile& file, TFileState state, const std::string& message) {
    file.State = state;
    file.Message = message;
    if (WasConverted(state))
        ++counts_.Converted;
    else if (state == TFileState::Failed)
        ++counts_.Failed;
    else
        ++counts_.Canceled;
    batchClock_.FileEnded(file.Task);
    fileClocks_.erase(file.Task);
}

void TBatchRunner::TaskEnded(int task, bool finished, bool failed, const std::string& message,
                             const std::string& published, bool partial) {
    if (FileOfTask(task)) {
        TBatchFile& file = files_[task];
        const TBatchFile before = file;
        if (!published.empty())
            file.Published = published;
        // A file that already ended otherwise keeps what it says.
        if (!HasEnded(file.State))
            EndFile(file, EndState(finished, failed, message), message);
        file.PartialOutput = file.PartialOutput || (partial && file.State == TFileState::Canceled);
        if (file.State != before.State || file.Published != before.Published ||
            file.PartialOutput != before.PartialOutput)
            listener_.FileEnded(file);
    }
    // The converter starts the next task from this task's end; a paused batch holds it too.
    if (paused_)
        converter_->PauseConvert();
}

void TBatchRunner::CancelUnended() {
    // Files of the batch that never reported an end did not run.
    for (TBatchFile& file : files_)
        if (file.Task >= 0 && !HasEnded(file.State)) {
            EndFile(file, TFileState::Canceled, "");
            listener_.FileEnded(file);
        }
}

void TBatchRunner::BatchEnd() {
    journal_.End();
    CancelUnended();
    counts_.ElapsedMs = batchClock_.Figures(NowMs()).ElapsedMs;
    paused_ = false;
    listener_.BatchEnded(counts_);
}

} // namespace mobivert::app
