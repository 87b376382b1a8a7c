// Setters the component calls with the values of its option records, each with its guard
// against the record's "not set" values.

#include "engine/session/FFmpeg.h"

#include <limits>

namespace mobivert::engine {

void TCustomFFmpeg::SetRecordingTimeMs(int64_t ms) {
    if (ms <= 0)
        return;
    // Durations beyond the range of the microsecond clock are held at its end.
    constexpr int64_t kMaxMs = std::numeric_limits<int64_t>::max() / 1000;
    RecordingTime = ms > kMaxMs ? std::numeric_limits<int64_t>::max() : ms * 1000;
    TotalOutputDuration = ms > std::numeric_limits<int32_t>::max()
                              ? std::numeric_limits<int32_t>::max()
                              : static_cast<int32_t>(ms);
}

void TCustomFFmpeg::SetStartTimeUs(int64_t us) {
    if (us > 0)
        StartTime = us;
}

void TCustomFFmpeg::SetProgramId(int32_t id) {
    if (id >= 0)
        ProgramId = id;
}

void TCustomFFmpeg::SetAudioVolume(int32_t volume) {
    if (volume >= 0)
        AudioVolume = volume;
}

void TCustomFFmpeg::SetAudioSyncMethod(int32_t method) {
    AudioSyncMethod = method;
}

void TCustomFFmpeg::SetVideoSyncMethod(int32_t method) {
    VideoSyncMethod = method;
}

void TCustomFFmpeg::SetMuxMaxDelay(float seconds) {
    if (seconds > 0)
        MuxMaxDelay = seconds;
}

void TCustomFFmpeg::SetMuxPreload(float seconds) {
    if (seconds > 0)
        MuxPreload = seconds;
}

void TCustomFFmpeg::SetMetaYear(int32_t year) {
    if (year > 0)
        MetaYear = year;
}

void TCustomFFmpeg::SetMetaTrack(int32_t track) {
    if (track > 0)
        MetaTrack = track;
}

namespace {
void SetText(std::string& field, const std::string& text) {
    if (!text.empty())
        field = text;
}
} // namespace

void TCustomFFmpeg::SetMetaTitle(const std::string& text) {
    SetText(MetaTitle, text);
}
void TCustomFFmpeg::SetMetaAuthor(const std::string& text) {
    SetText(MetaAuthor, text);
}
void TCustomFFmpeg::SetMetaCopyright(const std::string& text) {
    SetText(MetaCopyright, text);
}
void TCustomFFmpeg::SetMetaComment(const std::string& text) {
    SetText(MetaComment, text);
}
void TCustomFFmpeg::SetMetaGenre(const std::string& text) {
    SetText(MetaGenre, text);
}
void TCustomFFmpeg::SetMetaAlbum(const std::string& text) {
    SetText(MetaAlbum, text);
}
void TCustomFFmpeg::SetVideoFilters(const std::string& text) {
    SetText(VideoFilters, text);
}

} // namespace mobivert::engine
