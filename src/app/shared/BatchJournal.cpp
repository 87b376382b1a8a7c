#include "app/shared/BatchJournal.h"

#include "app/shared/ChoiceFields.h"
#include "app/shared/FieldLines.h"
#include "app/shared/Presets.h"
#include "converter/LineText.h"
#include "converter/WorkFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace mobivert::app {

namespace fs = std::filesystem;
using converter::Escape;
using converter::Unescape;
using converter::WriteAll;

namespace {

constexpr const char* kHeader = "Corvel Mobivert batch journal ";
// Version 2 appends a line per ended file after the batch; version 1 rewrote the whole journal
// and is still read.
constexpr int kVersion = 2;
constexpr int kOldestVersion = 1;
constexpr const char* kEndedKey = "ended=";
constexpr const char* kSuffix = ".journal";

const std::map<TJournalState, std::string>& StateNames() {
    static const std::map<TJournalState, std::string> names{
        {TJournalState::Pending, "pending"},   {TJournalState::Done, "done"},
        {TJournalState::Warnings, "warnings"}, {TJournalState::Failed, "failed"},
        {TJournalState::Canceled, "canceled"}, {TJournalState::Refused, "refused"}};
    return names;
}

// The batch's settings with the keys the journal writes them under (see ChoiceFields.h).
template <class Batch, class Visitor> void VisitJournalFields(Batch& b, Visitor&& visit) {
    auto& s = b.Settings;
    visit("program", b.Program, CHOICES_FIRST);
    visit("preset", s.PresetText, CHOICES_FIRST);
    visit("same-folder", s.SameFolder, CHOICES_FIRST);
    visit("output-folder", s.OutputFolder, CHOICES_FIRST);
    visit("jobs", b.Jobs, CHOICES_FIRST);
    visit("input-options", s.InputExtOptions, CHOICES_FIRST);
    visit("output-options", s.OutputExtOptions, CHOICES_FIRST);
    VisitChoiceFields(s.Choices, visit);
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        parts.push_back(line.substr(start, tab - start));
    parts.push_back(line.substr(start));
    return parts;
}

void SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// Replaces the file with the text: written beside it, flushed, renamed over it.
bool ReplaceFile(const std::string& path, const std::string& text, std::string& error) {
    const std::string temporary = path + ".new";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && WriteAll(fd, text) && fsync(fd) == 0;
    int saved = errno;
    if (fd >= 0)
        close(fd);
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        unlink(temporary.c_str());
        error = "Cannot write the batch journal " + path + ": " + std::strerror(saved);
        return false;
    }
    SyncFolder(fs::path(path).parent_path().string());
    return true;
}

std::string LockPathOf(const std::string& journal) {
    return journal.substr(0, journal.size() - std::strlen(kSuffix)) + ".lock";
}

bool ParseInt(const std::string& text, int& value) {
    std::optional<int> number = ParseIntegerText(text);
    if (!number || text.find_first_not_of("-0123456789") != std::string::npos)
        return false;
    value = *number;
    return true;
}

std::string EndedLine(size_t file, TJournalState state, const std::string& output) {
    return kEndedKey + std::to_string(file) + "\t" + StateNames().at(state) + "\t" +
           Escape(output) + "\n";
}

// An "ended=<file>\t<state>\t<output>" line: the file's final state and the name its output
// got (empty when it has none); its work file is gone.
bool ApplyEndedLine(const std::string& line, TJournalBatch& batch) {
    if (line.rfind(kEndedKey, 0) != 0)
        return false;
    std::vector<std::string> parts = SplitTabs(line.substr(std::strlen(kEndedKey)));
    int file = -1;
    std::string output;
    if (parts.size() != 3 || !ParseInt(parts[0], file) || file < 0 ||
        file >= static_cast<int>(batch.Files.size()) || !Unescape(parts[2], output))
        return false;
    for (const auto& [state, name] : StateNames()) {
        if (parts[1] != name || state == TJournalState::Pending || state == TJournalState::Refused)
            continue;
        TJournalFile& ended = batch.Files[static_cast<size_t>(file)];
        ended.State = state;
        if (!output.empty())
            ended.Output = output;
        ended.Part.clear();
        return true;
    }
    return false;
}

} // namespace

std::string JournalFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    fs::path base;
    if (state && *state && fs::path(state).is_absolute()) {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home && *home ? home : "/tmp") / ".local" / "state";
    }
    return (base / "Corvel" / "Mobivert").string();
}

TJournalBatch JournalOf(const std::string& program, const TBatchSettings& settings, int jobs,
                        const std::vector<TBatchSource>& sources,
                        const converter::TAVConverter& converter) {
    TJournalBatch batch;
    batch.Program = program;
    batch.Settings = settings;
    batch.Jobs = jobs;
    for (const TBatchSource& source : sources) {
        TJournalFile file;
        file.Source = source.Path;
        file.Output = source.OutputPath;
        file.Task = source.Task;
        if (const std::optional<converter::TTaskStatus> task = converter.TaskStatus(source.Task))
            file.Part = task->PartName;
        else
            file.State = TJournalState::Refused;
        batch.Files.push_back(file);
    }
    return batch;
}

std::string FormatJournal(const TJournalBatch& b) {
    std::ostringstream out;
    out << kHeader << kVersion << "\n";
    out << FieldLinesText([&b](auto& line) { VisitJournalFields(b, line); });
    for (const TJournalFile& f : b.Files)
        out << "file=" << StateNames().at(f.State) << "\t" << Escape(f.Source) << "\t"
            << Escape(f.Output) << "\t" << Escape(f.Part) << "\n";
    out << "end\n";
    return out.str();
}

bool ParseJournal(const std::string& text, TJournalBatch& b, std::string& reason) {
    b = TJournalBatch{};
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line.rfind(kHeader, 0) != 0) {
        reason = "not a batch journal";
        return false;
    }
    int version = 0;
    if (!ParseInt(line.substr(std::strlen(kHeader)), version) || version < kOldestVersion ||
        version > kVersion) {
        reason = "written by an unknown version";
        return false;
    }
    TFieldLines lines;
    bool ended = false;
    while (std::getline(in, line)) {
        if (line == "end") {
            ended = true;
            break;
        }
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            reason = "a line cannot be read";
            return false;
        }
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        if (key == "file") {
            std::vector<std::string> parts = SplitTabs(value);
            TJournalFile file;
            bool known = false;
            for (const auto& [state, name] : StateNames())
                if (parts[0] == name) {
                    file.State = state;
                    known = true;
                }
            if (parts.size() != 4 || !known || !Unescape(parts[1], file.Source) ||
                !Unescape(parts[2], file.Output) || !Unescape(parts[3], file.Part) ||
                !fs::path(file.Source).is_absolute()) {
                reason = "a file line cannot be read";
                return false;
            }
            b.Files.push_back(file);
            continue;
        }
        std::string unescaped;
        if (!Unescape(value, unescaped) || !lines.Add(key, unescaped)) {
            reason = "a line cannot be read";
            return false;
        }
    }
    if (!ended) {
        reason = "it is incomplete";
        return false;
    }
    // Ends recorded after the batch. The batch itself is written whole (renamed into place),
    // so only the last appended line can have been cut by a crash: it never counts.
    const bool cut = text.empty() || text.back() != '\n';
    while (std::getline(in, line)) {
        if (cut && in.eof())
            break;
        if (!ApplyEndedLine(line, b)) {
            reason = "a line cannot be read";
            return false;
        }
    }
    // Journals written before the modern presets lack their choices, and those written before
    // target sizes and hardware encoding lack those.
    const bool complete = lines.ReadAll([&b](auto& visit) { VisitJournalFields(b, visit); },
                                        FieldReader(ParseInt), CHOICES_FIRST);
    if (!complete) {
        reason = "a setting is missing or cannot be read";
        return false;
    }
    const TBatchSettings& s = b.Settings;
    const TStoredChoices& c = s.Choices;
    // Whatever would be handed to a conversion must be what this version accepts.
    if (!FindPreset(s.PresetText) || b.Jobs < 1 || b.Jobs > 64 || !CheckStoredChoices(c).empty() ||
        c.AudioChannelChoice < 0 || c.AudioChannelChoice > 2 || c.SampleRateChoice < 0 ||
        c.SampleRateChoice >= static_cast<int>(SampleRateItems().size()) || c.AspectChoice < 0 ||
        c.AspectChoice >= static_cast<int>(AspectItems().size()) || c.FrameRateChoice < 0 ||
        c.FrameRateChoice >= static_cast<int>(FrameRateItems().size()) ||
        !ChoicesWithinTheirLists(c)) {
        reason = "a setting has a value this version does not accept";
        return false;
    }
    return true;
}

TFileLock::TFileLock(TFileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TFileLock& TFileLock::operator=(TFileLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool TFileLock::TryLock(const std::string& path) {
    Release();
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void TFileLock::Release() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

TBatchJournal::~TBatchJournal() {
    // The journal itself stays unless End was called: a batch that did not end can be resumed.
    if (appendFd_ >= 0)
        close(appendFd_);
}

bool TBatchJournal::Begin(const TJournalBatch& batch, std::string& error) {
    std::lock_guard lock(mutex_);
    if (appendFd_ >= 0)
        close(appendFd_);
    appendFd_ = -1;
    const std::string folder = JournalFolder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    // The lock file is made first, under a name no one else has while it exists, and held for
    // the whole run; the journal takes its name.
    std::string lockPath = (fs::path(folder) / "batch-XXXXXX.lock").string();
    int fd = mkstemps(lockPath.data(), 5);
    if (fd < 0) {
        error = "Cannot write the batch journal in " + folder + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    if (!lock_.TryLock(lockPath)) {
        error = "Cannot lock the batch journal " + lockPath + ": " + std::strerror(errno);
        unlink(lockPath.c_str());
        return false;
    }
    const std::string base = lockPath.substr(0, lockPath.size() - 5);
    batch_ = batch;
    path_ = base + kSuffix;
    if (!ReplaceFile(path_, FormatJournal(batch_), error) || !OpenForEnds(error)) {
        unlink(path_.c_str());
        lock_.Release();
        unlink(lockPath.c_str());
        path_.clear();
        return false;
    }
    fileOfTask_.clear();
    for (size_t i = 0; i < batch_.Files.size(); ++i) {
        const int task = batch_.Files[i].Task;
        if (task < 0)
            continue;
        if (static_cast<size_t>(task) >= fileOfTask_.size())
            fileOfTask_.resize(static_cast<size_t>(task) + 1, -1);
        fileOfTask_[static_cast<size_t>(task)] = static_cast<int>(i);
    }
    return true;
}

bool TBatchJournal::OpenForEnds(std::string& error) {
    appendFd_ = open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (appendFd_ >= 0)
        return true;
    error = "Cannot write the batch journal " + path_ + ": " + std::strerror(errno);
    return false;
}

void TBatchJournal::TaskEnded(int task, const converter::TTaskStatus& ended) {
    std::lock_guard lock(mutex_);
    if (path_.empty() || task < 0 || static_cast<size_t>(task) >= fileOfTask_.size() ||
        fileOfTask_[static_cast<size_t>(task)] < 0)
        return;
    const size_t index = static_cast<size_t>(fileOfTask_[static_cast<size_t>(task)]);
    TJournalFile& file = batch_.Files[index];
    const bool completed = ended.Finished && !ended.Failed;
    file.State = ended.Failed             ? TJournalState::Failed
                 : !completed             ? TJournalState::Canceled
                 : ended.Warnings.empty() ? TJournalState::Done
                                          : TJournalState::Warnings;
    if (!ended.PublishedName.empty())
        file.Output = ended.PublishedName;
    file.Part.clear();
    // One line appended and flushed: the cost of an end does not grow with the batch.
    if (WriteAll(appendFd_, EndedLine(index, file.State, ended.PublishedName)))
        fdatasync(appendFd_);
}

void TBatchJournal::End() {
    std::lock_guard lock(mutex_);
    if (path_.empty())
        return;
    unlink(path_.c_str());
    unlink(LockPathOf(path_).c_str());
    lock_.Release();
    if (appendFd_ >= 0)
        close(appendFd_);
    appendFd_ = -1;
    fileOfTask_.clear();
    path_.clear();
}

std::vector<std::string> TUnfinishedBatch::PendingSources() const {
    std::vector<std::string> sources;
    for (const TJournalFile& file : Batch.Files)
        if (file.State == TJournalState::Pending)
            sources.push_back(file.Source);
    return sources;
}

std::vector<TUnfinishedBatch> FindUnfinishedBatches(std::vector<std::string>& messages) {
    std::vector<TUnfinishedBatch> found;
    std::error_code ec;
    std::vector<std::string> journals;
    for (const fs::directory_entry& entry : fs::directory_iterator(JournalFolder(), ec))
        if (entry.path().extension() == kSuffix && entry.is_regular_file(ec))
            journals.push_back(entry.path().string());
    std::sort(journals.begin(), journals.end());
    for (const std::string& path : journals) {
        TUnfinishedBatch batch;
        batch.Path = path;
        // A held lock: that batch's program still runs.
        if (!batch.Lock.TryLock(LockPathOf(path)))
            continue;
        unlink((path + ".new").c_str());
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::string reason;
        if (!in || !ParseJournal(text.str(), batch.Batch, reason)) {
            if (reason.empty())
                reason = "it cannot be read";
            std::string aside = path + ".damaged";
            rename(path.c_str(), aside.c_str());
            unlink(LockPathOf(path).c_str());
            messages.push_back("The batch journal " + path + " was set aside as " + aside +
                               " because " + reason + ".");
            continue;
        }
        found.push_back(std::move(batch));
    }
    return found;
}

void RemoveLeftoverWorkFiles(TUnfinishedBatch& batch) {
    // Work files are made at each file's turn, under a name chosen then: those of the files
    // that did not end are found by their outputs' names. Journals of earlier versions name
    // them.
    std::vector<std::string> outputs, named;
    for (TJournalFile& file : batch.Batch.Files) {
        if (file.State == TJournalState::Pending)
            outputs.push_back(file.Output);
        if (!file.Part.empty())
            named.push_back(file.Part);
        file.Part.clear();
    }
    converter::RemoveAbandonedWorkFiles(outputs, named);
}

void DiscardUnfinishedBatch(TUnfinishedBatch& batch) {
    RemoveLeftoverWorkFiles(batch);
    unlink(batch.Path.c_str());
    unlink(LockPathOf(batch.Path).c_str());
    batch.Lock.Release();
}

} // namespace mobivert::app
