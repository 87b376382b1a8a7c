#include "converter/WorkerProtocol.h"

#include "converter/RecordText.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace mobivert::converter {

std::string ControlText(const char* control) {
    return std::string(control) + "\n";
}

std::string JobText(const TWorkerJob& job) {
    std::string text = std::string(PROTOCOL_LINE) + "\n";
    text += "lib=" + Escape(job.LibraryDirectory) + "\n";
    text += "versioned=" + std::string(job.VersionedNames ? "1" : "0") + "\n";
    text += "loglevel=" + std::to_string(job.LogLevel) + "\n";
    text += "progress=" + std::to_string(job.ProgressIntervalMs) + "\n";
    text += "concurrent=" + std::to_string(job.ConcurrentRuns) + "\n";
    text += "input=" + Escape(job.InputFileName) + "\n";
    if (job.HasInputRecord)
        text += RecordText(job.Input, "in.");
    if (!job.KnownInputView.empty())
        text += "inview=" + Escape(job.KnownInputView) + "\n";
    text += "output=" + Escape(job.OutputFileName) + "\n";
    text += "outformat=" + Escape(job.OutputFormat) + "\n";
    if (job.OutputDescriptor >= 0)
        text += "outfd=" + std::to_string(job.OutputDescriptor) + "\n";
    if (job.HasOutputRecord)
        text += RecordText(job.Output, "out.");
    return text + "end\n";
}

namespace {

bool ReadInt(const std::string& text, int& value) {
    char* end = nullptr;
    long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end)
        return false;
    value = static_cast<int>(number);
    return true;
}

bool StartsWith(const std::string& text, const char* prefix, std::string& rest) {
    std::string p = prefix;
    if (text.compare(0, p.size(), p) != 0)
        return false;
    rest = text.substr(p.size());
    return true;
}

} // namespace

bool ReadJobLine(TWorkerJob& job, const std::string& line, bool& done) {
    done = false;
    if (!job.ProtocolSeen) {
        job.ProtocolSeen = line == PROTOCOL_LINE;
        return job.ProtocolSeen;
    }
    std::string rest;
    done = line == "end";
    if (done)
        return true;
    if (StartsWith(line, "lib=", rest))
        job.LibraryDirectory = Unescape(rest);
    else if (StartsWith(line, "versioned=", rest))
        job.VersionedNames = rest == "1";
    else if (StartsWith(line, "loglevel=", rest))
        return ReadInt(rest, job.LogLevel);
    else if (StartsWith(line, "progress=", rest))
        return ReadInt(rest, job.ProgressIntervalMs);
    else if (StartsWith(line, "concurrent=", rest))
        return ReadInt(rest, job.ConcurrentRuns);
    else if (StartsWith(line, "input=", rest))
        job.InputFileName = Unescape(rest);
    else if (StartsWith(line, "inview=", rest))
        job.KnownInputView = Unescape(rest);
    else if (StartsWith(line, "output=", rest))
        job.OutputFileName = Unescape(rest);
    else if (StartsWith(line, "outformat=", rest))
        job.OutputFormat = Unescape(rest);
    else if (StartsWith(line, "outfd=", rest))
        return ReadInt(rest, job.OutputDescriptor) && job.OutputDescriptor >= 0;
    else if (StartsWith(line, "in.", rest)) {
        if (!ReadRecordLine(job.Input, rest))
            return false;
        job.HasInputRecord = true;
    } else if (StartsWith(line, "out.", rest)) {
        if (!ReadRecordLine(job.Output, rest))
            return false;
        job.HasOutputRecord = true;
    } else
        return false;
    return true;
}

std::string LogReportText(int level, const std::string& text) {
    return "L " + std::to_string(level) + " " + Escape(text) + "\n";
}

std::string ProgressReportText(int32_t frameNumber, int32_t fps, int32_t currentDurationMs,
                               float quality, float bitRate, int64_t currentSize,
                               int32_t totalDurationMs) {
    // Hexadecimal floating point, so the owner gets the engine's values bit for bit.
    char text[256];
    std::snprintf(text, sizeof text, "P %d %d %d %a %a %lld %d\n", frameNumber, fps,
                  currentDurationMs, static_cast<double>(quality), static_cast<double>(bitRate),
                  static_cast<long long>(currentSize), totalDurationMs);
    return text;
}

std::string EndReportText(bool finished, bool failed, const std::string& message) {
    return std::string("E ") + (finished ? "1 " : "0 ") + (failed ? "1 " : "0 ") + Escape(message) +
           "\n";
}

bool ReadReport(const std::string& line, TWorkerReport& report) {
    if (line.size() < 2 || line[1] != ' ')
        return false;
    std::string body = line.substr(2);
    switch (line[0]) {
    case 'L': {
        size_t space = body.find(' ');
        if (space == std::string::npos || !ReadInt(body.substr(0, space), report.Level))
            return false;
        report.Kind = TWorkerReport::Log;
        report.Text = Unescape(body.substr(space + 1));
        return true;
    }
    case 'P': {
        std::istringstream in(body);
        std::string quality, bitRate;
        in >> report.FrameNumber >> report.Fps >> report.CurrentDurationMs >> quality >> bitRate >>
            report.CurrentSize >> report.TotalDurationMs;
        if (!in)
            return false;
        report.Kind = TWorkerReport::Progress;
        report.Quality = std::strtof(quality.c_str(), nullptr);
        report.BitRate = std::strtof(bitRate.c_str(), nullptr);
        return true;
    }
    case 'E':
        if (body.size() < 4 || body[1] != ' ' || body[3] != ' ')
            return false;
        report.Kind = TWorkerReport::End;
        report.Finished = body[0] == '1';
        report.Failed = body[2] == '1';
        report.Text = Unescape(body.substr(4));
        return true;
    default:
        return false;
    }
}

bool TLineReader::Fill(int fd) {
    char chunk[8192];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0) {
            buffer_.append(chunk, static_cast<size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
}

bool TLineReader::Next(std::string& line) {
    size_t end = buffer_.find('\n');
    if (end == std::string::npos)
        return false;
    line = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    return true;
}

} // namespace mobivert::converter
