// Opening one input file: the demuxer is chosen and fed the input's options, the streams are
// probed, the start position is sought, one decoder context is made per stream, and the session's
// picture and audio settings move over to the values of the opened file so that the output made
// next starts from them.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/open/InputView.h"
#include "engine/open/OpenErrorText.h"
#include "engine/open/SourceLength.h"
#include "engine/session/CodecLock.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"
#include "engine/session/LibraryReason.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <utility>

namespace mobivert::engine {

namespace {

// The per-input part of the option state is consumed by every opening, successful or not.
void ResetInputOptions(TCustomFFmpeg& s) {
    s.ForcedInputFormat = nullptr;
    s.ForcedOutputFormat = nullptr;
    s.VideoChannel = 0;
    s.RateEmu = 0;
    s.VideoCodecName.clear();
    s.AudioCodecName.clear();
    s.SubtitleCodecName.clear();
}

std::string LowerExtension(const std::string& fileName) {
    size_t slash = fileName.find_last_of('/');
    size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = fileName.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// Options that raw, image and capture demuxers take in place of the old demuxer parameter block.
// Only meaningful values are passed: a demuxer refuses a zero picture size, for example.
AVDictionary* DemuxerOptions(const TCustomFFmpeg& s) {
    AVDictionary* options = nullptr;
    if (s.FrameRate.num > 0 && s.FrameRate.den > 0)
        av::av_dict_set(
            &options, "framerate",
            (std::to_string(s.FrameRate.num) + "/" + std::to_string(s.FrameRate.den)).c_str(), 0);
    if (s.AudioSampleRate > 0)
        av::av_dict_set(&options, "sample_rate", std::to_string(s.AudioSampleRate).c_str(), 0);
    if (s.AudioChannels > 0) {
        AVChannelLayout layout{};
        av::av_channel_layout_default(&layout, s.AudioChannels);
        char text[128] = {};
        if (av::av_channel_layout_describe(&layout, text, sizeof text) > 0)
            av::av_dict_set(&options, "ch_layout", text, 0);
        av::av_channel_layout_uninit(&layout);
    }
    int width = s.FrameWidth + s.FramePadLeft + s.FramePadRight;
    int height = s.FrameHeight + s.FramePadTop + s.FramePadBottom;
    if (width > 0 && height > 0)
        av::av_dict_set(&options, "video_size",
                        (std::to_string(width) + "x" + std::to_string(height)).c_str(), 0);
    if (s.FramePixFmt >= 0)
        if (const char* name = av::av_get_pix_fmt_name(static_cast<AVPixelFormat>(s.FramePixFmt)))
            av::av_dict_set(&options, "pixel_format", name, 0);
    if (s.VideoChannel != 0)
        av::av_dict_set(&options, "channel", std::to_string(s.VideoChannel).c_str(), 0);
    if (!s.VideoStandard.empty())
        av::av_dict_set(&options, "standard", s.VideoStandard.c_str(), 0);
    // Looping is an option of the demuxers that can loop (image sequences).
    if (s.LoopInput != 0)
        av::av_dict_set(&options, "loop", std::to_string(s.LoopInput).c_str(), 0);
    return options;
}

// The display aspect ratio of a video stream, from its sample aspect ratio and picture size.
float StreamAspectRatio(const AVStream* st, const AVCodecContext* dec) {
    AVRational sar =
        st->sample_aspect_ratio.num ? st->sample_aspect_ratio : dec->sample_aspect_ratio;
    double ratio = sar.num && sar.den ? static_cast<double>(sar.num) / sar.den : 0.0;
    int32_t area = static_cast<int32_t>(static_cast<uint32_t>(dec->width) *
                                        static_cast<uint32_t>(dec->height));
    if (area != 0) {
        if (ratio != 0.0)
            return static_cast<float>(ratio * dec->width / dec->height);
        return static_cast<float>(static_cast<double>(dec->width) / dec->height);
    }
    return ratio != 0.0 ? static_cast<float>(ratio) : 4.0f / 3.0f;
}

void DiscardOtherPrograms(AVFormatContext* ic, int programId) {
    for (unsigned p = 0; p < ic->nb_programs; ++p)
        if (ic->programs[p]->id != programId)
            ic->programs[p]->discard = AVDISCARD_ALL;
}

// Streams that only discarded programs carry are not read either, so that nothing maps them.
void DiscardStreamsOfDiscardedPrograms(AVFormatContext* ic) {
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        bool inDiscarded = false;
        bool inKept = false;
        for (unsigned p = 0; p < ic->nb_programs; ++p) {
            const AVProgram* program = ic->programs[p];
            for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
                if (program->stream_index[k] != i)
                    continue;
                if (program->discard == AVDISCARD_ALL)
                    inDiscarded = true;
                else
                    inKept = true;
            }
        }
        if (inDiscarded && !inKept)
            ic->streams[i]->discard = AVDISCARD_ALL;
    }
}

// The first video stream that is moving pictures, not a picture attached to the file; -1 when
// there is none.
int FirstMovingVideoStream(const AVFormatContext* ic) {
    for (unsigned k = 0; k < ic->nb_streams; ++k) {
        const AVStream* st = ic->streams[k];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(k);
    }
    return -1;
}

void FreeDecoders(std::vector<AVCodecContext*>& decoders) {
    for (AVCodecContext*& decoder : decoders)
        av::avcodec_free_context(&decoder);
    decoders.clear();
}

} // namespace

bool TCustomFFmpeg::OpenInputFile(const std::string& fileName) {
    auto refuse = [this](const std::string& text) {
        SetupError = text;
        ResetInputOptions(*this);
        return false;
    };
    if (InputFileCount >= MAX_FILES)
        return refuse(fileName + ": too many input files (at most " + std::to_string(MAX_FILES) +
                      ")");

    // Codec names given for this input force the decoders.
    AVCodecID videoId = AV_CODEC_ID_NONE;
    AVCodecID audioId = AV_CODEC_ID_NONE;
    AVCodecID subtitleId = AV_CODEC_ID_NONE;
    if (!FindCodec(VideoCodecName, AVMEDIA_TYPE_VIDEO, false, videoId) ||
        !FindCodec(AudioCodecName, AVMEDIA_TYPE_AUDIO, false, audioId) ||
        !FindCodec(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, subtitleId))
        return refuse(SetupError);
    if (videoId == AV_CODEC_ID_NONE && PgmyuvCompat)
        videoId = AV_CODEC_ID_PGMYUV;

    // Opens and probes the file within the probing budget; the reason when it cannot.
    TReadGuard& guard = InputReadGuards[InputFileCount];
    auto openAndProbe = [&](int64_t probeSize, AVFormatContext*& ic) -> std::string {
        ic = av::avformat_alloc_context();
        if (!ic)
            return OpenErrorText(AVERROR(ENOMEM), fileName);
        // Bounded probing; the input's own options may change the bounds.
        ic->probesize = probeSize;
        ic->max_analyze_duration = ANALYZE_DURATION_US;
        SetContextOptions(ic, FormatOptContext, AV_OPT_FLAG_DECODING_PARAM);
        ic->video_codec_id = videoId;
        ic->audio_codec_id = audioId;
        ic->subtitle_codec_id = subtitleId;
        if (!VideoCodecName.empty())
            ic->video_codec = av::avcodec_find_decoder_by_name(VideoCodecName.c_str());
        if (!AudioCodecName.empty())
            ic->audio_codec = av::avcodec_find_decoder_by_name(AudioCodecName.c_str());
        if (!SubtitleCodecName.empty())
            ic->subtitle_codec = av::avcodec_find_decoder_by_name(SubtitleCodecName.c_str());

        // Opening and probing stop on a stop request, after a time limit and after a read budget.
        guard.WatchStop(&StopRequested);
        guard.Install(ic);
        guard.Begin(OPEN_READ_BUDGET, OPEN_TIME_LIMIT_US);
        if (InputIO) {
            ic->pb = std::exchange(InputIO, nullptr);
            ic->flags |= AVFMT_FLAG_CUSTOM_IO;
        }

        // On failure avformat_open_input frees the context itself.
        AVDictionary* demuxerOptions = DemuxerOptions(*this);
        LibraryReason reason;
        int ret =
            av::avformat_open_input(&ic, fileName.c_str(), ForcedInputFormat, &demuxerOptions);
        av::av_dict_free(&demuxerOptions);
        if (ret < 0 && guard.LastCause() != TReadGuard::Cause::None)
            return fileName + ": " + guard.Reason();
        if (ret < 0)
            return reason.Explain(
                OpenErrorText(ClassifyOpenError(ret, fileName, ForcedInputFormat), fileName));

        if (ProgramId != 0)
            DiscardOtherPrograms(ic, ProgramId);

        {
            // Probing may open decoders while other sessions open or close codecs.
            std::lock_guard lock(CodecLock());
            ret = av::avformat_find_stream_info(ic, nullptr);
        }
        // An interrupted probe may still report success, with streams it could not describe.
        if (guard.LastCause() != TReadGuard::Cause::None) {
            av::avformat_close_input(&ic);
            return fileName + ": " + guard.Reason();
        }
        if (ret < 0 && Verbose >= 0) {
            av::avformat_close_input(&ic);
            return fileName + ": could not find codec parameters";
        }
        if (ProgramId != 0)
            DiscardStreamsOfDiscardedPrograms(ic);
        return std::string();
    };

    // A file opened before in full is probed with a small budget, and in full again when that
    // describes it otherwise.
    const bool known = !InputIO && !KnownInputView.empty() && KnownInputFile == fileName;
    AVFormatContext* ic = nullptr;
    std::string failure = openAndProbe(known ? REOPEN_PROBE_SIZE : PROBE_SIZE, ic);
    std::string view = failure.empty() ? InputView(ic) : std::string();
    if (known && (!failure.empty() || view != KnownInputView)) {
        if (ic)
            av::avformat_close_input(&ic);
        failure = openAndProbe(PROBE_SIZE, ic);
        view = failure.empty() ? InputView(ic) : std::string();
    }
    if (!failure.empty())
        return refuse(failure);
    KnownInputFile = fileName;
    KnownInputView = std::move(view);

    int64_t timestamp = StartTime;
    const int64_t skipped = StartTime;
    if (ic->start_time != AV_NOPTS_VALUE)
        timestamp += ic->start_time;
    if (StartTime != 0) {
        // Backwards to the key frame at or before the position; a failed seek leaves reading
        // wherever the demuxer is. A seek may read its way through the file: bounded as the
        // reading of one packet is.
        guard.Begin(PACKET_READ_BUDGET, 0);
        av::av_seek_frame(ic, -1, timestamp, AVSEEK_FLAG_BACKWARD);
        StartTime = 0;
    }

    std::vector<AVCodecContext*> decoders(ic->nb_streams, nullptr);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        AVStream* st = ic->streams[i];
        AVCodecParameters* par = st->codecpar;
        const AVCodec* decoder = nullptr;
        switch (par->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            decoder = ic->video_codec;
            break;
        case AVMEDIA_TYPE_AUDIO:
            decoder = ic->audio_codec;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            decoder = ic->subtitle_codec;
            break;
        default:
            break;
        }
        if (!decoder && par->codec_id != AV_CODEC_ID_NONE)
            decoder = av::avcodec_find_decoder(par->codec_id);
        AVCodecContext* dec = av::avcodec_alloc_context3(decoder);
        if (!dec || av::avcodec_parameters_to_context(dec, par) < 0) {
            av::avcodec_free_context(&dec);
            FreeDecoders(decoders);
            av::avformat_close_input(&ic);
            return refuse(OpenErrorText(AVERROR(ENOMEM), fileName));
        }
        decoders[i] = dec;
        dec->pkt_timebase = st->time_base;
        dec->thread_count = ThreadCount;

        switch (par->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            SetContextOptions(dec, CodecOptContexts[AVMEDIA_TYPE_AUDIO],
                              AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
            AudioChannels = dec->ch_layout.nb_channels;
            AudioSampleRate = dec->sample_rate;
            AudioChannelsDerived = AudioSampleRateDerived = true;
            AudioSampleFmt = dec->sample_fmt;
            if (AudioDisable)
                st->discard = AVDISCARD_ALL;
            break;
        case AVMEDIA_TYPE_VIDEO: {
            SetContextOptions(dec, CodecOptContexts[AVMEDIA_TYPE_VIDEO],
                              AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
            // RealMedia video reports no pixel format before decoding; it decodes to 4:2:0.
            if (dec->pix_fmt == AV_PIX_FMT_NONE && LowerExtension(fileName).rfind(".rmvb", 0) == 0)
                dec->pix_fmt = AV_PIX_FMT_YUV420P;
            if (VideoDisable)
                st->discard = AVDISCARD_ALL;
            else if (VideoDiscard && st->discard != AVDISCARD_ALL)
                st->discard = static_cast<AVDiscard>(VideoDiscard);
            // The output's picture values come from the file's first moving pictures, never
            // from a cover picture or a later video stream.
            if (static_cast<int>(i) != FirstMovingVideoStream(ic))
                break;
            FrameHeight = dec->height;
            FrameWidth = dec->width;
            FrameSizeDerived = true;
            FrameAspectRatio = StreamAspectRatio(st, dec);
            FrameAspectFromSource = true;
            FramePixFmt = dec->pix_fmt;
            FramePixFmtFromSource = true;
            SourceTurn = StreamTurn(st);
            SourceWidth = dec->width;
            SourceHeight = dec->height;
            // The codec's own frame rate (its average) against the container's real one.
            AVRational codecRate = st->avg_frame_rate;
            if (codecRate.num && codecRate.den &&
                (codecRate.num != st->r_frame_rate.num || codecRate.den != st->r_frame_rate.den) &&
                Verbose > 0 && OnLog) {
                char line[256];
                std::snprintf(line, sizeof line,
                              "Seems stream %d codec frame rate differs from container frame "
                              "rate: %2.2f (%d/%d) -> %2.2f (%d/%d)",
                              static_cast<int>(i),
                              static_cast<double>(codecRate.num) / codecRate.den, codecRate.num,
                              codecRate.den,
                              st->r_frame_rate.den
                                  ? static_cast<double>(st->r_frame_rate.num) / st->r_frame_rate.den
                                  : 0.0,
                              st->r_frame_rate.num, st->r_frame_rate.den);
                Log(1, line);
            }
            FrameRate = {st->r_frame_rate.num, st->r_frame_rate.den};
            break;
        }
        case AVMEDIA_TYPE_SUBTITLE:
            if (SubtitleDisable)
                st->discard = AVDISCARD_ALL;
            break;
        case AVMEDIA_TYPE_DATA:
        case AVMEDIA_TYPE_ATTACHMENT:
        case AVMEDIA_TYPE_UNKNOWN:
            break;
        default:
            FreeDecoders(decoders);
            av::avformat_close_input(&ic);
            throw FFMpegException("invalid codec_type");
        }
    }

    // What the output is expected to last: the source's own length less the part skipped.
    if (int64_t length = KnownSourceLength(ic); length != AV_NOPTS_VALUE) {
        int64_t ms = std::min(std::max<int64_t>(length - skipped, 0), RecordingTime) / 1000;
        if (TotalOutputDuration < ms)
            TotalOutputDuration = static_cast<int32_t>(std::min<int64_t>(ms, INT32_MAX));
    }

    guard.End();
    InputFiles[InputFileCount] = ic;
    FreeDecoders(InputDecoders[InputFileCount]);
    InputDecoders[InputFileCount] = std::move(decoders);
    InputRateEmu[InputFileCount] = RateEmu;
    InputTsOffsets[InputFileCount] = CopyTs ? InputTsOffset : InputTsOffset - timestamp;
    if (Verbose >= 0)
        av::av_dump_format(ic, InputFileCount, fileName.c_str(), 0);
    ++InputFileCount;
    ResetInputOptions(*this);
    return true;
}

} // namespace mobivert::engine
