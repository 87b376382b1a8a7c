// Stream maps, meta-data maps and input timestamp scales: small structured values of numbers
// and one-character separators.

#include "engine/options/ValueConversion.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace mobivert::engine {

namespace {

// Reads a number the way C's strtol with base 0 does (decimal, "0x" hexadecimal, leading "0"
// octal) from text and advances it; numbers beyond the 32-bit range are held at its limits so
// that the later range checks refuse them instead of seeing a wrapped value.
int32_t ReadNumber(const char*& text) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 0);
    text = end;
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

// Skips the one separator character after a number, unless the text has ended.
void SkipSeparator(const char*& text) {
    if (*text)
        ++text;
}

} // namespace

void TCustomFFmpeg::AddStreamMap(const std::string& value) {
    if (StreamMapCount >= MAX_STREAM_MAPS)
        throw FFMpegException(
            FormatText("Too many stream maps: at most %d are possible", MAX_STREAM_MAPS));
    StreamMap map;
    const char* p = value.c_str();
    map.FileIndex = ReadNumber(p);
    SkipSeparator(p);
    map.StreamIndex = ReadNumber(p);
    if (*p) {
        ++p;
        map.SyncFileIndex = ReadNumber(p);
        SkipSeparator(p);
        map.SyncStreamIndex = ReadNumber(p);
    } else {
        map.SyncFileIndex = map.FileIndex;
        map.SyncStreamIndex = map.StreamIndex;
    }
    StreamMaps[StreamMapCount++] = map;
}

void TCustomFFmpeg::AddMetaDataMap(const std::string& value) {
    if (MetaDataMapCount >= MAX_META_DATA_MAPS)
        throw FFMpegException(
            FormatText("Too many meta-data maps: at most %d are possible", MAX_META_DATA_MAPS));
    MetaDataMap map;
    const char* p = value.c_str();
    map.OutFile = ReadNumber(p);
    SkipSeparator(p);
    map.InFile = ReadNumber(p);
    MetaDataMaps[MetaDataMapCount++] = map;
}

void TCustomFFmpeg::SetInputTsScale(const std::string& value) {
    const char* p = value.c_str();
    char* end = nullptr;
    unsigned long stream = static_cast<unsigned long>(std::strtol(p, &end, 0));
    size_t rest = static_cast<size_t>(end - p);
    if (rest < value.size() && value[rest] != '\0')
        ++rest;
    size_t stop = 0;
    double scale = LeadingDouble(value, rest, stop);
    if (stream >= static_cast<unsigned long>(MAX_STREAMS))
        throw FFMpegException(FormatText("stream index over MAX_STREAMS(%d)", MAX_STREAMS));
    // The scale belongs to the input file opened next; there is none after the last one.
    if (InputFileCount >= MAX_FILES)
        throw FFMpegException(
            FormatText("Too many input files: at most %d are possible", MAX_FILES));
    InputTsScales[InputFileCount][stream] = scale;
}

} // namespace mobivert::engine
