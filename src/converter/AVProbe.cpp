#include "converter/AVProbe.h"
#include "engine/video/PictureTurn.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "engine/open/OpenErrorText.h"
#include "engine/open/ReadGuard.h"
#include "engine/session/CodecLock.h"
#include "engine/session/LibraryReason.h"

#include <cstring>
#include <mutex>

namespace mobivert::converter {

using binding::AVCodecBinder;
using binding::AVFormatBinder;
using binding::AVUtilBinder;
using binding::SwScaleBinder;

namespace {

template <typename Info> void Preset(Info& info) {
    std::memset(&info, 0xFF, sizeof info);
    std::memset(info.Language, 0, sizeof info.Language);
    std::memset(info.CodecName, 0, sizeof info.CodecName);
}

// The fields both kinds of stream share.
template <typename Info> void FillCommon(Info& info, const AVStream* st) {
    if (const AVDictionaryEntry* language = av::av_dict_get(st->metadata, "language", nullptr, 0))
        std::strncpy(info.Language, language->value, sizeof info.Language - 1);
    if (const char* name = av::avcodec_get_name(st->codecpar->codec_id))
        std::strncpy(info.CodecName, name, sizeof info.CodecName - 1);
    const AVRational microseconds{1, 1000000};
    info.StartTime = st->start_time;
    if (st->start_time != AV_NOPTS_VALUE)
        info.StartTimeScaled = av::av_rescale_q(st->start_time, st->time_base, microseconds);
    info.Duration = st->duration;
    if (st->duration != AV_NOPTS_VALUE)
        info.DurationScaled = av::av_rescale_q(st->duration, st->time_base, microseconds);
    int64_t bitRate = st->codecpar->bit_rate;
    info.BitRate = static_cast<int32_t>(bitRate > INT32_MAX ? INT32_MAX : bitRate);
}

} // namespace

TAVProbe::TAVProbe() : guard_(std::make_unique<engine::TReadGuard>()) {}

void TAVProbe::WatchStop(const std::atomic<bool>* stop) {
    guard_->WatchStop(stop);
}

ContainerInfo TAVProbe::Container() const {
    ContainerInfo info{"", "", -1, 0};
    if (!context_)
        return info;
    if (context_->iformat) {
        info.Name = context_->iformat->name;
        info.LongName = context_->iformat->long_name ? context_->iformat->long_name : "";
    }
    info.DurationUs = context_->duration == AV_NOPTS_VALUE ? -1 : context_->duration;
    info.BitRate = context_->bit_rate;
    return info;
}

const AVStream* TAVProbe::StreamAt(int index) const {
    if (!context_ || index < 0 || static_cast<unsigned>(index) >= context_->nb_streams)
        return nullptr;
    return context_->streams[index];
}

AVMediaType TAVProbe::StreamType(int index) const {
    const AVStream* st = StreamAt(index);
    return st ? st->codecpar->codec_type : AVMEDIA_TYPE_UNKNOWN;
}

std::string TAVProbe::StreamTypeName(int index) const {
    const char* name = av::av_get_media_type_string(StreamType(index));
    return name ? name : "other";
}

std::string TAVProbe::StreamCodecName(int index) const {
    const AVStream* st = StreamAt(index);
    return st ? av::avcodec_get_name(st->codecpar->codec_id) : "";
}

TAVProbe::~TAVProbe() {
    // Without the libraries there is nothing a context could be closed with.
    if (context_ && ownsContext_ && AVFormatBinder().IsBound())
        Close();
}

bool TAVProbe::LoadLibs(const std::string& directory, bool versioned) {
    if (AVCodecBinder().IsBound() && AVFormatBinder().IsBound() && AVUtilBinder().IsBound() &&
        SwScaleBinder().IsBound())
        return true;
    // Dependencies first, so that libraries from the given folder are the ones the later ones
    // link against.
    for (binding::LibraryBinder* binder :
         {&AVUtilBinder(), &SwScaleBinder(), &AVCodecBinder(), &AVFormatBinder()}) {
        std::string error;
        if (!binder->LoadLib(directory, versioned, error)) {
            lastError_ = error;
            AVCodecBinder().UnloadLib();
            AVFormatBinder().UnloadLib();
            AVUtilBinder().UnloadLib();
            SwScaleBinder().UnloadLib();
            return false;
        }
    }
    return true;
}

void TAVProbe::CheckLibraries() const {
    if (!AVCodecBinder().IsBound())
        throw EProbeLibraryError("LibAVCodec not loaded.");
    if (!AVFormatBinder().IsBound())
        throw EProbeLibraryError("LibAVFormat not loaded.");
    if (!AVUtilBinder().IsBound())
        throw EProbeLibraryError("LibAVUtil not loaded.");
    if (!SwScaleBinder().IsBound())
        throw EProbeLibraryError("LibSwScale not loaded.");
}

bool TAVProbe::Open(const std::string& fileName, const std::string& formatName) {
    CheckLibraries();
    Close();
    const AVInputFormat* format = nullptr;
    if (!formatName.empty()) {
        format = av::av_find_input_format(formatName.c_str());
        if (!format) {
            lastError_ = "Unknown input format: " + formatName;
            return false;
        }
    }
    AVFormatContext* context = av::avformat_alloc_context();
    if (!context) {
        lastError_ = engine::OpenErrorText(AVERROR(ENOMEM), fileName);
        return false;
    }
    context->probesize = engine::PROBE_SIZE;
    context->max_analyze_duration = engine::ANALYZE_DURATION_US;
    guard_->Install(context);
    guard_->Begin(engine::OPEN_READ_BUDGET, engine::OPEN_TIME_LIMIT_US);
    // On failure the library frees the context itself, and says why in its log.
    engine::LibraryReason reason;
    int ret = av::avformat_open_input(&context, fileName.c_str(), format, nullptr);
    if (ret < 0 && guard_->LastCause() != engine::TReadGuard::Cause::None) {
        lastError_ = fileName + ": " + guard_->Reason();
        return false;
    }
    if (ret < 0) {
        lastError_ = reason.Explain(
            engine::OpenErrorText(engine::ClassifyOpenError(ret, fileName, format), fileName));
        return false;
    }
    context_ = context;
    ownsContext_ = true;
    {
        // Probing may open decoders while conversions open or close theirs.
        std::lock_guard lock(engine::CodecLock());
        ret = av::avformat_find_stream_info(context_, nullptr);
    }
    // An interrupted probe may still report success, with streams it could not describe.
    if (guard_->LastCause() != engine::TReadGuard::Cause::None) {
        lastError_ = fileName + ": " + guard_->Reason();
        Close();
        return false;
    }
    guard_->End();
    if (ret < 0) {
        lastError_ = fileName + ": could not find codec parameters";
        Close();
        return false;
    }
    Count();
    formatName_ = formatName;
    return true;
}

void TAVProbe::Attach(AVFormatContext* context) {
    CheckLibraries();
    Close();
    ownsContext_ = false;
    context_ = context;
    Count();
}

void TAVProbe::Close() {
    formatName_.clear();
    if (context_ && ownsContext_)
        av::avformat_close_input(&context_);
    context_ = nullptr;
    ownsContext_ = false;
    released_ = false;
    releasedFileName_.clear();
    releasedStreams_.clear();
    ClearCounts();
}

void TAVProbe::ClearCounts() {
    streamCount_ = programCount_ = -1;
    audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = movingVideoStreamCount_ = -1;
    firstAudioStreamIndex_ = firstVideoStreamIndex_ = firstSubtitleStreamIndex_ = -1;
}

void TAVProbe::Count() {
    ClearCounts();
    if (!context_)
        return;
    streamCount_ = static_cast<int>(context_->nb_streams);
    programCount_ = static_cast<int>(context_->nb_programs);
    audioStreamCount_ = videoStreamCount_ = subtitleStreamCount_ = movingVideoStreamCount_ = 0;
    for (int i = 0; i < streamCount_; ++i) {
        switch (context_->streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            if (audioStreamCount_++ == 0)
                firstAudioStreamIndex_ = i;
            break;
        case AVMEDIA_TYPE_VIDEO:
            // The first moving pictures win over a picture attached before them.
            if (videoStreamCount_++ == 0)
                firstVideoStreamIndex_ = i;
            if (!(context_->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
                movingVideoStreamCount_++ == 0)
                firstVideoStreamIndex_ = i;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            if (subtitleStreamCount_++ == 0)
                firstSubtitleStreamIndex_ = i;
            break;
        default:
            break;
        }
    }
}

int TAVProbe::PickStream(int index, AVMediaType type) const {
    const char* kind = type == AVMEDIA_TYPE_AUDIO ? "audio" : "video";
    if (!context_ && !released_) {
        av::av_log(nullptr, AV_LOG_INFO, "file not loaded.\n");
        return -1;
    }
    if (index == -1) {
        index = type == AVMEDIA_TYPE_AUDIO ? firstAudioStreamIndex_ : firstVideoStreamIndex_;
        if (index < 0) {
            av::av_log(nullptr, AV_LOG_ERROR, "no %s stream.\n", kind);
            return -1;
        }
    }
    int count = context_ ? static_cast<int>(context_->nb_streams)
                         : static_cast<int>(releasedStreams_.size());
    if (index < 0 || index >= count) {
        av::av_log(nullptr, AV_LOG_ERROR, "stream index #%d is invalid.\n", index);
        return -1;
    }
    AVMediaType found =
        context_ ? context_->streams[index]->codecpar->codec_type : releasedStreams_[index].Type;
    if (found != type) {
        av::av_log(nullptr, AV_LOG_ERROR, "stream #%d is not %s stream.\n", index, kind);
        return -1;
    }
    return index;
}

AudioStreamInfo TAVProbe::AudioInfo(int index) const {
    int picked = PickStream(index, AVMEDIA_TYPE_AUDIO);
    if (picked >= 0 && !context_)
        return releasedStreams_[picked].Audio;
    AudioStreamInfo info;
    Preset(info);
    return picked < 0 ? info : ReadAudioInfo(context_->streams[picked]);
}

VideoStreamInfo TAVProbe::VideoInfo(int index) const {
    int picked = PickStream(index, AVMEDIA_TYPE_VIDEO);
    if (picked >= 0 && !context_)
        return releasedStreams_[picked].Video;
    VideoStreamInfo info;
    Preset(info);
    return picked < 0 ? info : ReadVideoInfo(context_->streams[picked]);
}

AudioStreamInfo TAVProbe::ReadAudioInfo(const AVStream* st) const {
    AudioStreamInfo info;
    Preset(info);
    FillCommon(info, st);
    info.Channels = st->codecpar->ch_layout.nb_channels;
    info.SampleRate = st->codecpar->sample_rate;
    info.SampleFormat = st->codecpar->format;
    return info;
}

VideoStreamInfo TAVProbe::ReadVideoInfo(const AVStream* st) const {
    VideoStreamInfo info;
    Preset(info);
    FillCommon(info, st);
    const AVCodecParameters* par = st->codecpar;
    info.Height = par->height;
    info.Width = par->width;
    AVRational sar = par->sample_aspect_ratio;
    info.DisplayAspect =
        sar.num && sar.den && par->height
            ? static_cast<float>(par->width * (static_cast<double>(sar.num) / sar.den) /
                                 par->height)
            : 0.0f;
    info.PixelFormat = par->format;
    info.FrameRateNum = st->r_frame_rate.num;
    info.FrameRateDen = st->r_frame_rate.den;
    if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0) {
        info.AverageRateNum = st->avg_frame_rate.num;
        info.AverageRateDen = st->avg_frame_rate.den;
    }
    const engine::PictureTurn turn = engine::StreamTurn(st);
    info.Rotation = turn.Degrees;
    info.Mirrored = turn.Mirror ? 1 : 0;
    return info;
}

void TAVProbe::Release() {
    if (!context_)
        return;
    std::vector<StreamSummary> streams;
    for (unsigned i = 0; i < context_->nb_streams; ++i) {
        const AVStream* st = context_->streams[i];
        StreamSummary summary{st->codecpar->codec_type, {}, {}};
        Preset(summary.Audio);
        Preset(summary.Video);
        if (summary.Type == AVMEDIA_TYPE_AUDIO)
            summary.Audio = ReadAudioInfo(st);
        else if (summary.Type == AVMEDIA_TYPE_VIDEO)
            summary.Video = ReadVideoInfo(st);
        streams.push_back(summary);
    }
    std::string fileName = FileName();
    if (ownsContext_)
        av::avformat_close_input(&context_);
    context_ = nullptr;
    ownsContext_ = false;
    released_ = true;
    releasedFileName_ = fileName;
    releasedStreams_ = std::move(streams);
}

std::string TAVProbe::FileName() const {
    if (!context_ && released_)
        return releasedFileName_;
    if (!context_ || !context_->url)
        return {};
    return std::string(context_->url).substr(0, 1024);
}

} // namespace mobivert::converter
