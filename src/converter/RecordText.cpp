#include "converter/RecordText.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace mobivert::converter {

namespace {

// Each record's fields in order, given to a visitor with their names. A new field needs one
// line here to travel to the worker.
template <class Visitor> void VisitFields(TInputOptions& r, Visitor&& v) {
    v("FileName", r.FileName);
    v("FileFormat", r.FileFormat);
    v("StartTime", r.StartTime);
    v("ProgramNumber", r.ProgramNumber);
    v("ExtOptions", r.ExtOptions);
    v("OverrideOptions", r.OverrideOptions);
}

template <class Visitor> void VisitFields(TOutputOptions& r, Visitor&& v) {
    v("FileName", r.FileName);
    v("FileFormat", r.FileFormat);
    v("PacketSize", r.PacketSize);
    v("MuxRate", r.MuxRate);
    v("MuxDelay", r.MuxDelay);
    v("MuxPreload", r.MuxPreload);
    v("AudioCodec", r.AudioCodec);
    v("DisableAudio", r.DisableAudio);
    v("AudioVolume", r.AudioVolume);
    v("AudioChannels", r.AudioChannels);
    v("AudioSampleRate", r.AudioSampleRate);
    v("AudioBitRate", r.AudioBitRate);
    v("AudioBitRateTolerance", r.AudioBitRateTolerance);
    v("AudioLanguage", r.AudioLanguage);
    v("AudioSync", r.AudioSync);
    v("AudioTag", r.AudioTag);
    v("VideoCodec", r.VideoCodec);
    v("DisableVideo", r.DisableVideo);
    v("FrameRate", r.FrameRate);
    v("FrameSize", r.FrameSize);
    v("FrameAspect", r.FrameAspect);
    v("CropTop", r.CropTop);
    v("CropBottom", r.CropBottom);
    v("CropLeft", r.CropLeft);
    v("CropRight", r.CropRight);
    v("PadTop", r.PadTop);
    v("PadBottom", r.PadBottom);
    v("PadLeft", r.PadLeft);
    v("PadRight", r.PadRight);
    v("PadColor", r.PadColor);
    v("GopSize", r.GopSize);
    v("VideoBitRate", r.VideoBitRate);
    v("VideoMaxRate", r.VideoMaxRate);
    v("VideoMinRate", r.VideoMinRate);
    v("VideoBitRateTolerance", r.VideoBitRateTolerance);
    v("VideoBufSize", r.VideoBufSize);
    v("VideoSync", r.VideoSync);
    v("VideoTag", r.VideoTag);
    v("VideoFilters", r.VideoFilters);
    v("DisableSubtitle", r.DisableSubtitle);
    v("SubtitleLanguage", r.SubtitleLanguage);
    v("CopyTimestamps", r.CopyTimestamps);
    v("Duration", r.Duration);
    v("Timestamp", r.Timestamp);
    v("Year", r.Year);
    v("Track", r.Track);
    v("Title", r.Title);
    v("Author", r.Author);
    v("Copyright", r.Copyright);
    v("Comment", r.Comment);
    v("Album", r.Album);
    v("Genre", r.Genre);
    v("Target", r.Target);
    v("TargetNorm", r.TargetNorm);
    v("TargetFallbackNorm", r.TargetFallbackNorm);
    v("CustomHook", r.CustomHook);
    v("BeforeHook", r.BeforeHook);
    v("HookRanges", r.HookRanges);
    v("FrameSizeDerived", r.FrameSizeDerived);
    v("AudioSampleRateDerived", r.AudioSampleRateDerived);
    v("AudioChannelsDerived", r.AudioChannelsDerived);
    v("AudioBitRateDerived", r.AudioBitRateDerived);
    v("TwoPass", r.TwoPass);
    v("TargetSize", r.TargetSize);
    v("ExtOptions", r.ExtOptions);
    v("OverrideOptions", r.OverrideOptions);
}

std::string ValueText(const std::string& value) {
    return Escape(value);
}
std::string ValueText(bool value) {
    return value ? "1" : "0";
}
std::string ValueText(int32_t value) {
    return std::to_string(value);
}
std::string ValueText(uint32_t value) {
    return std::to_string(value);
}
std::string ValueText(int64_t value) {
    return std::to_string(value);
}
// Hexadecimal floating point: the value comes back bit for bit.
std::string ValueText(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", value);
    return text;
}
std::string ValueText(float value) {
    return ValueText(static_cast<double>(value));
}

bool ReadValue(const std::string& text, std::string& value) {
    value = Unescape(text);
    return true;
}
bool ReadValue(const std::string& text, bool& value) {
    if (text != "0" && text != "1")
        return false;
    value = text == "1";
    return true;
}
template <class Number> bool ReadNumber(const std::string& text, Number& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long long number = std::strtoll(text.c_str(), &end, 10);
    if (errno || *end || number < static_cast<long long>(std::numeric_limits<Number>::min()) ||
        number > static_cast<long long>(std::numeric_limits<Number>::max()))
        return false;
    value = static_cast<Number>(number);
    return true;
}
bool ReadValue(const std::string& text, int32_t& value) {
    return ReadNumber(text, value);
}
bool ReadValue(const std::string& text, uint32_t& value) {
    return ReadNumber(text, value);
}
bool ReadValue(const std::string& text, int64_t& value) {
    return ReadNumber(text, value);
}
bool ReadValue(const std::string& text, double& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !*end;
}
bool ReadValue(const std::string& text, float& value) {
    double number = 0;
    if (!ReadValue(text, number))
        return false;
    value = static_cast<float>(number);
    return true;
}

template <class Record> std::string Text(const Record& record, const std::string& prefix) {
    std::string text;
    VisitFields(const_cast<Record&>(record), [&](const char* name, const auto& value) {
        text += prefix + name + "=" + ValueText(value) + "\n";
    });
    return text;
}

template <class Record> bool ReadLine(Record& record, const std::string& line) {
    size_t equals = line.find('=');
    if (equals == std::string::npos)
        return false;
    std::string name = line.substr(0, equals);
    std::string text = line.substr(equals + 1);
    bool found = false;
    bool read = false;
    VisitFields(record, [&](const char* field, auto& value) {
        if (!found && name == field) {
            found = true;
            read = ReadValue(text, value);
        }
    });
    return found && read;
}

} // namespace

std::string RecordText(const TInputOptions& record, const std::string& prefix) {
    return Text(record, prefix);
}
std::string RecordText(const TOutputOptions& record, const std::string& prefix) {
    return Text(record, prefix);
}
bool ReadRecordLine(TInputOptions& record, const std::string& line) {
    return ReadLine(record, line);
}
bool ReadRecordLine(TOutputOptions& record, const std::string& line) {
    return ReadLine(record, line);
}

} // namespace mobivert::converter
