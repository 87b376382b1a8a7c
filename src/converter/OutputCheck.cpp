#include "converter/OutputCheck.h"

#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/audio/AudioTrackChoice.h"
#include "engine/session/CodecLock.h"
#include "engine/session/FFmpeg.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <mutex>

namespace mobivert::converter {

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

// A stream's length in microseconds as its container states it, or -1. A length guessed from
// the bit rate is no statement: it is not trusted.
int64_t StatedDurationUs(const AVFormatContext* ic, const AVStream* st) {
    if (ic->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
        return -1;
    if (st->duration != AV_NOPTS_VALUE && st->duration >= 0)
        return av::av_rescale_q(st->duration, st->time_base, kMicroseconds);
    if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0)
        return ic->duration;
    return -1;
}

// How far into the file a stream reaches: from the file's start to the stream's end, so that a
// stream that starts late (a video 2 s after its sound) is measured as it plays. The stream's
// own length when its start is not stated.
int64_t StatedSpanUs(const AVFormatContext* ic, const AVStream* st) {
    const int64_t duration = StatedDurationUs(ic, st);
    if (duration < 0 || st->duration == AV_NOPTS_VALUE || st->start_time == AV_NOPTS_VALUE ||
        ic->start_time == AV_NOPTS_VALUE)
        return duration;
    const int64_t start = av::av_rescale_q(st->start_time, st->time_base, kMicroseconds);
    return std::max<int64_t>(duration, duration + start - ic->start_time);
}

bool IsAttachedPicture(const AVStream* st) {
    return (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

// The input stream that feeds output stream n (counted over all outputs), as the transcode
// set-up chooses it: the stream map when there is one, otherwise the preferred audio track, or
// the first input stream of the same type (moving pictures for video, the attached picture for
// a cover) that no earlier output stream took.
const AVStream* SourceOf(const engine::TCustomFFmpeg& s, int n, AVMediaType type, bool cover,
                         std::vector<bool>& used) {
    const AVFormatContext* ic = s.InputFiles[0];
    if (s.StreamMapCount > 0) {
        if (n >= s.StreamMapCount)
            return nullptr;
        const engine::StreamMap& map = s.StreamMaps[n];
        if (map.FileIndex != 0 || map.StreamIndex < 0 ||
            map.StreamIndex >= static_cast<int>(ic->nb_streams))
            return nullptr;
        return ic->streams[map.StreamIndex];
    }
    if (type == AVMEDIA_TYPE_AUDIO) {
        std::vector<bool> free(used.size());
        for (size_t i = 0; i < used.size(); ++i)
            free[i] = !used[i];
        const int chosen = engine::PreferredAudioStream(ic, free);
        if (chosen < 0)
            return nullptr;
        used[chosen] = true;
        return ic->streams[chosen];
    }
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        if (!used[i] && ic->streams[i]->codecpar->codec_type == type &&
            (type != AVMEDIA_TYPE_VIDEO || IsAttachedPicture(ic->streams[i]) == cover)) {
            used[i] = true;
            return ic->streams[i];
        }
    }
    return nullptr;
}

// The output's frame rate: the encoder's when set, otherwise the source's.
double FrameRateOf(const AVCodecContext* enc, const AVStream* source) {
    if (enc && enc->framerate.num > 0 && enc->framerate.den > 0)
        return static_cast<double>(enc->framerate.num) / enc->framerate.den;
    for (AVRational rate : {source->avg_frame_rate, source->r_frame_rate})
        if (rate.num > 0 && rate.den > 0)
            return static_cast<double>(rate.num) / rate.den;
    return 0.0;
}

const char* TypeName(AVMediaType type) {
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return "video";
    case AVMEDIA_TYPE_AUDIO:
        return "audio";
    case AVMEDIA_TYPE_SUBTITLE:
        return "subtitle";
    default:
        return "data";
    }
}

std::string SecondsText(int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(us) / 1e6);
    return text;
}

// Closes the context however the check ends.
struct InputHolder {
    AVFormatContext* Context = nullptr;
    ~InputHolder() {
        if (Context)
            av::avformat_close_input(&Context);
    }
};

} // namespace

TOutputExpectation ExpectedOutput(const engine::TCustomFFmpeg& s, int64_t inputStartUs) {
    TOutputExpectation expected;
    if (s.InputFileCount < 1 || s.OutputFileCount < 1 || !s.InputFiles[0])
        return expected;
    const AVFormatContext* ic = s.InputFiles[0];
    const int last = s.OutputFileCount - 1;
    const AVFormatContext* oc = s.OutputFiles[last];
    if (!oc)
        return expected;

    // Streams of earlier outputs take their sources first.
    std::vector<bool> used(ic->nb_streams, false);
    int n = 0;
    for (int k = 0; k < last; ++k) {
        for (unsigned i = 0; i < s.OutputFiles[k]->nb_streams; ++i, ++n) {
            const AVCodecContext* enc =
                i < s.OutputEncoders[k].size() ? s.OutputEncoders[k][i] : nullptr;
            if (enc)
                SourceOf(s, n, enc->codec_type, IsAttachedPicture(s.OutputFiles[k]->streams[i]),
                         used);
        }
    }

    const int64_t skipped = std::max<int64_t>(0, inputStartUs) + std::max<int64_t>(0, s.StartTime);
    auto limited = [&s, skipped](int64_t duration) {
        return std::min(std::max<int64_t>(0, duration - skipped), s.RecordingTime);
    };
    const bool guessed = ic->duration_estimation_method == AVFMT_DURATION_FROM_PTS;
    if (guessed && ic->duration != AV_NOPTS_VALUE && ic->duration > 0)
        expected.LongestUs = limited(ic->duration);
    // The length a frame limit allows: kNoCap without one, -1 when it gives no length.
    constexpr int64_t kNoCap = std::numeric_limits<int64_t>::max();
    int64_t frameCap = kNoCap;
    for (unsigned i = 0; i < oc->nb_streams; ++i, ++n) {
        const AVCodecContext* enc =
            i < s.OutputEncoders[last].size() ? s.OutputEncoders[last][i] : nullptr;
        TExpectedStream stream;
        stream.Type = enc ? enc->codec_type : oc->streams[i]->codecpar->codec_type;
        stream.AttachedPicture = IsAttachedPicture(oc->streams[i]);
        const AVStream* source = SourceOf(s, n, stream.Type, stream.AttachedPicture, used);
        int64_t duration = source ? StatedSpanUs(ic, source) : -1;
        // Subtitles last as long as their last cue, which says nothing about the source's end;
        // a cover picture has no length.
        if (stream.Type == AVMEDIA_TYPE_SUBTITLE || stream.AttachedPicture || guessed)
            duration = -1;
        if (duration >= 0)
            duration = limited(duration);
        // The run ends for every stream as soon as one stream reaches its frame limit. Audio
        // frames have the encoder's own size, so an audio limit gives no length at all.
        int limit = s.MaxFrames[stream.Type == AVMEDIA_TYPE_VIDEO   ? 0
                                : stream.Type == AVMEDIA_TYPE_AUDIO ? 1
                                                                    : 2];
        if (limit != std::numeric_limits<int32_t>::max()) {
            double rate = stream.Type == AVMEDIA_TYPE_VIDEO ? FrameRateOf(enc, source) : 0.0;
            int64_t cap = rate > 0.0 ? static_cast<int64_t>(limit / rate * 1e6) : -1;
            frameCap = cap < 0 || frameCap < 0 ? -1 : std::min(frameCap, cap);
        }
        stream.DurationUs = duration;
        expected.Streams.push_back(stream);
    }
    if (frameCap != kNoCap) {
        for (TExpectedStream& stream : expected.Streams)
            stream.DurationUs = frameCap < 0 ? -1 : std::min(stream.DurationUs, frameCap);
        expected.LongestUs = frameCap < 0 ? -1 : std::min(expected.LongestUs, frameCap);
    }
    // With "shortest" every stream ends with the shortest one.
    if (s.Shortest) {
        expected.LongestUs = -1;
        int64_t shortest = -1;
        for (const TExpectedStream& stream : expected.Streams)
            if (stream.DurationUs >= 0 && (shortest < 0 || stream.DurationUs < shortest))
                shortest = stream.DurationUs;
        for (TExpectedStream& stream : expected.Streams)
            if (stream.DurationUs > shortest)
                stream.DurationUs = shortest;
    }
    return expected;
}

int64_t DurationToleranceUs(int64_t expectedUs) {
    return std::max<int64_t>(500000, expectedUs / 50);
}

std::string CheckOutput(const std::string& path, const TOutputExpectation& expected) {
    if (expected.Streams.empty())
        return "";
    InputHolder file;
    if (av::avformat_open_input(&file.Context, path.c_str(), nullptr, nullptr) < 0)
        return UnreadableOutputText;
    int found = 0;
    {
        // Reading the stream parameters may open decoders while conversions open theirs.
        std::lock_guard lock(engine::CodecLock());
        found = av::avformat_find_stream_info(file.Context, nullptr);
    }
    if (found < 0)
        return UnreadableOutputText;
    const AVFormatContext* oc = file.Context;

    std::string differences;
    auto add = [&differences](const std::string& text) {
        differences += (differences.empty() ? "" : ", ") + text;
    };
    std::vector<bool> matched(oc->nb_streams, false);
    for (size_t i = 0; i < expected.Streams.size(); ++i) {
        const TExpectedStream& want = expected.Streams[i];
        // Streams are matched by type in their order: some containers list them as their
        // packets come.
        int ordinal = 1;
        for (size_t j = 0; j < i; ++j)
            ordinal += expected.Streams[j].Type == want.Type;
        int ofType = 0;
        for (const TExpectedStream& other : expected.Streams)
            ofType += other.Type == want.Type;
        std::string name = want.AttachedPicture ? "cover picture" : TypeName(want.Type);
        if (ofType > 1 && !want.AttachedPicture)
            name.append(" ").append(std::to_string(ordinal));

        const AVStream* st = nullptr;
        for (unsigned j = 0; j < oc->nb_streams && !st; ++j) {
            if (!matched[j] && oc->streams[j]->codecpar->codec_type == want.Type &&
                IsAttachedPicture(oc->streams[j]) == want.AttachedPicture) {
                matched[j] = true;
                st = oc->streams[j];
            }
        }
        if (!st) {
            add(name + " missing");
            continue;
        }
        if (want.DurationUs < 0)
            continue;
        int64_t actual = StatedSpanUs(oc, st);
        if (actual < 0)
            continue; // the container states no length: nothing to compare
        if (std::llabs(actual - want.DurationUs) > DurationToleranceUs(want.DurationUs))
            add(name + " " + SecondsText(actual) + " of " + SecondsText(want.DurationUs));
    }
    if (expected.LongestUs >= 0) {
        int64_t longest = -1;
        for (unsigned j = 0; j < oc->nb_streams; ++j)
            if (matched[j] && !IsAttachedPicture(oc->streams[j]))
                longest = std::max(longest, StatedSpanUs(oc, oc->streams[j]));
        if (longest >= 0 &&
            std::llabs(longest - expected.LongestUs) > DurationToleranceUs(expected.LongestUs))
            add("the output lasts " + SecondsText(longest) + " of " +
                SecondsText(expected.LongestUs));
    }
    return differences;
}

} // namespace mobivert::converter
