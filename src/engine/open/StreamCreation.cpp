// Creating the video, audio and subtitle streams of an output container, each with its encoder
// context filled from the current option state. The encoder is opened later, by the transcode.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/open/EncoderLimits.h"
#include "engine/open/PixelFormatChoice.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"
#include "engine/video/PictureTurn.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace mobivert::engine {

namespace {

// The nearest fraction with terms of at most 255 to d.
AVRational AspectFraction(double d) {
    if (!std::isfinite(d) || std::fabs(d) > INT_MAX)
        return {0, 1};
    int exponent = std::max(0, static_cast<int>(std::lrint(std::log2(std::fabs(d) + 1e-20))));
    int64_t den = int64_t{1} << (61 - exponent);
    int64_t num = std::llrint(d * static_cast<double>(den) + 0.5);
    AVRational q{0, 1};
    av::av_reduce(&q.num, &q.den, num, den, 255);
    return q;
}

// The supported rate nearest to fps; the first of equally near rates wins.
AVRational NearestFrameRate(AVRational fps, const AVRational* supported) {
    AVRational best = fps;
    AVRational bestError{INT_MAX, 1};
    for (const AVRational* p = supported; p->den; ++p) {
        AVRational error{0, 1};
        av::av_reduce(&error.num, &error.den, int64_t{fps.num} * p->den - int64_t{p->num} * fps.den,
                      int64_t{fps.den} * p->den, INT_MAX);
        error.num = std::abs(error.num);
        error.den = std::abs(error.den);
        if (av_cmp_q(error, bestError) < 0) {
            best = *p;
            bestError = error;
        }
    }
    return best;
}

// Reads "start,end,q" entries separated by "/" into the encoder's rate-control overrides: q > 0 is
// a fixed quantiser, otherwise -q percent of the normal quality.
void ParseRcOverride(AVCodecContext* enc, const std::string& text) {
    const char* p = text.c_str();
    int count = 0;
    while (p) {
        char* end = nullptr;
        long start = std::strtol(p, &end, 10);
        if (end == p || *end == '\0')
            throw FFMpegException("error parsing rc_override");
        p = end + 1;
        long stop = std::strtol(p, &end, 10);
        if (end == p || *end == '\0')
            throw FFMpegException("error parsing rc_override");
        p = end + 1;
        long q = std::strtol(p, &end, 10);
        p = end;
        void* grown = av::av_realloc(enc->rc_override, sizeof(RcOverride) * (count + 1));
        if (!grown)
            throw FFMpegException("Cannot allocate memory");
        enc->rc_override = static_cast<RcOverride*>(grown);
        RcOverride& entry = enc->rc_override[count];
        entry.start_frame = static_cast<int>(start);
        entry.end_frame = static_cast<int>(stop);
        if (q > 0) {
            entry.qscale = static_cast<int>(q);
            entry.quality_factor = 1.0f;
        } else {
            entry.qscale = 0;
            entry.quality_factor = static_cast<float>(-q) / 100.0f;
        }
        enc->rc_override_count = ++count;
        p = std::strchr(p, '/');
        if (p)
            ++p;
    }
}

uint16_t* CopyMatrix(const std::vector<uint16_t>& matrix) {
    auto* copy = static_cast<uint16_t*>(av::av_malloc(64 * sizeof(uint16_t)));
    if (copy)
        std::memcpy(copy, matrix.data(), 64 * sizeof(uint16_t));
    return copy;
}

bool Lists(const AVPixelFormat* list, int format) {
    for (; *list != AV_PIX_FMT_NONE; ++list)
        if (*list == format)
            return true;
    return false;
}

bool Lists(const AVSampleFormat* list, int format) {
    for (; *list != AV_SAMPLE_FMT_NONE; ++list)
        if (*list == format)
            return true;
    return false;
}

// A new stream, or none when the container holds as many streams as an output may have.
AVStream* NewStream(AVFormatContext* oc) {
    if (oc->nb_streams >= static_cast<unsigned>(MAX_STREAMS))
        return nullptr;
    AVStream* st = av::avformat_new_stream(oc, nullptr);
    if (st)
        st->id = st->index;
    return st;
}

void SetLanguage(AVStream* st, std::string& language) {
    if (language.empty())
        return;
    av::av_dict_set(&st->metadata, "language", language.substr(0, 3).c_str(), 0);
    language.clear();
}

// Every stream gets an encoder context, kept by the session at the stream's index, bound to the
// chosen encoder (so that its own defaults and options apply) or to none.
AVCodecContext* AttachEncoder(std::vector<AVCodecContext*>& encoders, AVStream* st,
                              const AVCodec* codec, AVMediaType type) {
    AVCodecContext* enc = av::avcodec_alloc_context3(codec);
    if (!enc)
        throw FFMpegException("Could not alloc stream");
    enc->codec_type = type;
    if (encoders.size() <= static_cast<size_t>(st->index))
        encoders.resize(st->index + 1, nullptr);
    av::avcodec_free_context(&encoders[st->index]);
    encoders[st->index] = enc;
    return enc;
}

// The picture size the encoder gets. An asked-for size it does not take refuses the stream with
// what it takes; a derived one becomes the nearest size it takes, the difference going to the
// picture inside the pads. The result is the display aspect ratio the stream keeps: the option's,
// or else that of the derived size, so that the picture is not stretched.
float FitPictureSize(TCustomFFmpeg& s, AVCodecContext* enc, const AVCodec* codec) {
    float aspect = s.FrameAspectRatio;
    if (enc->width <= 0 || enc->height <= 0)
        return aspect;
    std::string refusal = PictureSizeRefusal(codec, enc->width, enc->height);
    if (refusal.empty())
        return aspect;
    if (!s.FrameSizeDerived) {
        s.VideoCodecName.clear();
        throw FFMpegException(refusal);
    }
    PictureSize size = NearestPictureSize(codec, enc->width, enc->height);
    if (aspect == 0.0f)
        aspect = static_cast<float>(static_cast<double>(enc->width) / enc->height);
    if (s.Verbose >= 0 && s.OnLog)
        s.Log(1, "Video encoder " + std::string(codec->name) + " does not take " +
                     std::to_string(enc->width) + "x" + std::to_string(enc->height) + ": using " +
                     std::to_string(size.Width) + "x" + std::to_string(size.Height));
    s.FrameWidth += size.Width - enc->width;
    s.FrameHeight += size.Height - enc->height;
    enc->width = size.Width;
    enc->height = size.Height;
    return aspect;
}

// An asked-for sample rate or channel count that the encoder does not take refuses the stream
// with what it takes. Derived ones are fitted when the encoder is set up.
void CheckAudioValues(TCustomFFmpeg& s, const AVCodec* codec) {
    std::string refusal;
    if (!s.AudioSampleRateDerived && s.AudioSampleRate > 0)
        refusal = SampleRateRefusal(codec, s.AudioSampleRate);
    if (refusal.empty() && !s.AudioChannelsDerived && s.AudioChannels > 0) {
        AVChannelLayout layout{};
        av::av_channel_layout_default(&layout, s.AudioChannels);
        refusal = ChannelLayoutRefusal(codec, layout);
        av::av_channel_layout_uninit(&layout);
    }
    if (refusal.empty())
        return;
    s.AudioCodecName.clear();
    s.AudioLanguage.clear();
    throw FFMpegException(refusal);
}

// A derived bit rate the encoder does not take (a phone's speech track made into WMA, a
// preset's MPEG audio rate at a lower sample rate) becomes the nearest it takes. An asked-for
// one is left to the encoder, which names what it takes when it refuses.
void FitAudioBitRate(TCustomFFmpeg& s, AVCodecContext* enc, const AVCodec* codec) {
    if (!s.AudioBitRateDerived || enc->bit_rate <= 0)
        return;
    int64_t nearest = NearestBitRate(codec, s.AudioSampleRate, enc->bit_rate);
    if (nearest == 0)
        return;
    if (s.Verbose >= 0 && s.OnLog)
        s.Log(1, "Audio encoder " + std::string(codec->name) + " does not take " +
                     std::to_string(enc->bit_rate) + " bit/s: using " + std::to_string(nearest) +
                     " bit/s");
    enc->bit_rate = nearest;
}

// Even, and at least 2: the 4:2:0 pictures' chroma covers pairs of pixels.
int EvenSide(double side) {
    return std::max(2, 2 * static_cast<int>(std::lround(side / 2)));
}

// A source whose pictures are turned a quarter turn when they are re-encoded: what the output
// took from the source (its size, its aspect) follows the upright picture; a size the preset or
// the user chose gets the upright picture fitted inside it between pad bands, never squashed.
void FitTurnedPicture(TCustomFFmpeg& s) {
    if (!s.AutoRotate || !TurnsSideways(s.SourceTurn) || ChainTurnsPicture(s.VideoFilters))
        return;
    const bool aspectFromSource = s.FrameAspectFromSource && s.FrameAspectRatio > 0.0f;
    const float upright = aspectFromSource ? 1.0f / s.FrameAspectRatio : 0.0f;
    if (s.FrameSizeDerived && s.FrameWidth == s.SourceWidth && s.FrameHeight == s.SourceHeight) {
        std::swap(s.FrameWidth, s.FrameHeight);
        if (aspectFromSource)
            s.FrameAspectRatio = upright;
        s.FrameAspectFromSource = false;
        return;
    }
    const bool padded = s.FramePadTop + s.FramePadBottom + s.FramePadLeft + s.FramePadRight != 0;
    const bool cropped = s.FrameTopBand + s.FrameBottomBand + s.FrameLeftBand + s.FrameRightBand;
    if (!aspectFromSource || padded || cropped || !s.VideoFilters.empty() || s.FrameWidth <= 0 ||
        s.FrameHeight <= 0)
        return;
    const int width = s.FrameWidth;
    const int height = s.FrameHeight;
    int innerWidth = width;
    int innerHeight = height;
    if (upright < static_cast<float>(width) / static_cast<float>(height))
        innerWidth = std::min(width, EvenSide(height * upright));
    else
        innerHeight = std::min(height, EvenSide(width / upright));
    s.FramePadLeft = (width - innerWidth) / 4 * 2;
    s.FramePadRight = width - innerWidth - s.FramePadLeft;
    s.FramePadTop = (height - innerHeight) / 4 * 2;
    s.FramePadBottom = height - innerHeight - s.FramePadTop;
    s.FrameWidth = innerWidth;
    s.FrameHeight = innerHeight;
    s.FrameAspectRatio = static_cast<float>(width) / static_cast<float>(height);
    s.FrameAspectFromSource = false;
}

// The encoder's pixel format: the one an option named, or one the output's devices decode.
AVPixelFormat EncoderPixelFormat(TCustomFFmpeg& s, const AVCodec* codec) {
    const auto source = static_cast<AVPixelFormat>(s.FramePixFmt);
    if (!s.FramePixFmtFromSource)
        return codec && codec->pix_fmts && !Lists(codec->pix_fmts, source) ? codec->pix_fmts[0]
                                                                           : source;
    return DevicePixelFormat(codec, source);
}

} // namespace

void TCustomFFmpeg::NewVideoStream(AVFormatContext* oc, int fileIndex) {
    AVStream* st = NewStream(oc);
    if (!st) {
        VideoCodecName.clear();
        throw FFMpegException("Could not alloc stream");
    }
    BitstreamFilters[fileIndex][st->index] = VideoBitstreamFilters;
    VideoBitstreamFilters.clear();

    // The encoder: the one named, or the container's default for the file name.
    AVCodecID codecId = AV_CODEC_ID_NONE;
    const AVCodec* codec = nullptr;
    if (!VideoStreamCopy) {
        if (!VideoCodecName.empty()) {
            if (!FindCodec(VideoCodecName, AVMEDIA_TYPE_VIDEO, true, codecId)) {
                VideoCodecName.clear();
                AttachEncoder(OutputEncoders[fileIndex], st, nullptr, AVMEDIA_TYPE_VIDEO);
                throw FFMpegException(SetupError);
            }
            codec = av::avcodec_find_encoder_by_name(VideoCodecName.c_str());
        } else {
            codecId =
                av::av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, AVMEDIA_TYPE_VIDEO);
            codec = av::avcodec_find_encoder(codecId);
        }
    }
    AVCodecContext* enc = AttachEncoder(OutputEncoders[fileIndex], st, codec, AVMEDIA_TYPE_VIDEO);
    enc->thread_count = ThreadCount;
    if (VideoCodecTag)
        enc->codec_tag = static_cast<unsigned>(VideoCodecTag);
    AVCodecContext* holder = CodecOptContexts[AVMEDIA_TYPE_VIDEO];
    if ((VideoGlobalHeader & 1) ||
        (VideoGlobalHeader == 0 && (oc->oformat->flags & AVFMT_GLOBALHEADER))) {
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (holder)
            holder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (VideoGlobalHeader & 2) {
        enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        if (holder)
            holder->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }

    if (VideoStreamCopy) {
        OutputStreamCopy[fileIndex][st->index] = true;
        double ratio = static_cast<int64_t>(FrameWidth) * FrameHeight != 0
                           ? static_cast<double>(FrameAspectRatio) * FrameHeight / FrameWidth
                           : static_cast<double>(FrameAspectRatio) * 3 / 4;
        st->sample_aspect_ratio = AspectFraction(ratio);
    } else {
        AVRational fps{FrameRate.num, FrameRate.den};
        if (fps.num == 0 || fps.den <= 0)
            fps = {25, 1};
        enc->codec_id = codecId;
        SetContextOptions(enc, holder, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);

        enc->time_base = {fps.den, fps.num};
        if (codec && codec->supported_framerates) {
            AVRational nearest = NearestFrameRate(fps, codec->supported_framerates);
            enc->time_base = {nearest.den, nearest.num};
        }
        enc->framerate = {enc->time_base.den, enc->time_base.num};
        st->time_base = enc->time_base;

        FitTurnedPicture(*this);
        enc->width = FrameWidth + FramePadLeft + FramePadRight;
        enc->height = FrameHeight + FramePadTop + FramePadBottom;
        const float aspect = FitPictureSize(*this, enc, codec);
        double ratio = static_cast<int64_t>(enc->width) * enc->height != 0
                           ? static_cast<double>(aspect) * enc->height / enc->width
                           : static_cast<double>(aspect) * 3 / 4;
        enc->sample_aspect_ratio = AspectFraction(ratio);
        st->sample_aspect_ratio = enc->sample_aspect_ratio;

        enc->pix_fmt = EncoderPixelFormat(*this, codec);

        if (IntraOnly)
            enc->gop_size = 0;
        if (VideoQScale != 0.0f || SameQuality) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = static_cast<int>(FF_QP2LAMBDA * VideoQScale);
        }
        if (IntraMatrix.size() == 64)
            enc->intra_matrix = CopyMatrix(IntraMatrix);
        if (InterMatrix.size() == 64)
            enc->inter_matrix = CopyMatrix(InterMatrix);
        enc->thread_count = ThreadCount;

        if (VideoRcOverride) {
            try {
                ParseRcOverride(enc, *VideoRcOverride);
            } catch (const FFMpegException&) {
                VideoCodecName.clear();
                throw;
            }
        }
        if (enc->rc_initial_buffer_occupancy == 0)
            enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
        enc->intra_dc_precision = IntraDcPrecision - 8;
        if (DoPsnr)
            enc->flags |= AV_CODEC_FLAG_PSNR;
        if (DoPass == 1)
            enc->flags |= AV_CODEC_FLAG_PASS1;
        else if (DoPass)
            enc->flags |= AV_CODEC_FLAG_PASS2;
    }
    av::avcodec_parameters_from_context(st->codecpar, enc);

    VideoDisable = 0;
    VideoCodecName.clear();
    VideoStreamCopy = 0;
}

void TCustomFFmpeg::NewAudioStream(AVFormatContext* oc, int fileIndex) {
    AVStream* st = NewStream(oc);
    if (!st) {
        AudioCodecName.clear();
        AudioLanguage.clear();
        throw FFMpegException("Could not alloc stream");
    }
    BitstreamFilters[fileIndex][st->index] = AudioBitstreamFilters;
    AudioBitstreamFilters.clear();

    AVCodecID codecId = AV_CODEC_ID_NONE;
    const AVCodec* codec = nullptr;
    if (!AudioStreamCopy) {
        codecId = av::av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, AVMEDIA_TYPE_AUDIO);
        if (!AudioCodecName.empty()) {
            if (!FindCodec(AudioCodecName, AVMEDIA_TYPE_AUDIO, true, codecId)) {
                AudioCodecName.clear();
                AudioLanguage.clear();
                AttachEncoder(OutputEncoders[fileIndex], st, nullptr, AVMEDIA_TYPE_AUDIO);
                throw FFMpegException(SetupError);
            }
            codec = av::avcodec_find_encoder_by_name(AudioCodecName.c_str());
        } else {
            codec = av::avcodec_find_encoder(codecId);
        }
    }
    AVCodecContext* enc = AttachEncoder(OutputEncoders[fileIndex], st, codec, AVMEDIA_TYPE_AUDIO);
    enc->thread_count = ThreadCount;
    if (AudioCodecTag)
        enc->codec_tag = static_cast<unsigned>(AudioCodecTag);
    AVCodecContext* holder = CodecOptContexts[AVMEDIA_TYPE_AUDIO];
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) {
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (holder)
            holder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }

    av::av_channel_layout_uninit(&enc->ch_layout);
    if (AudioStreamCopy) {
        OutputStreamCopy[fileIndex][st->index] = true;
        av::av_channel_layout_default(&enc->ch_layout, AudioChannels);
    } else {
        SetContextOptions(enc, holder, AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        enc->codec_id = codecId;
        if (AudioQScale > -99999.0f) {
            enc->flags |= AV_CODEC_FLAG_QSCALE;
            enc->global_quality = static_cast<int>(FF_QP2LAMBDA * AudioQScale);
        }
        enc->thread_count = ThreadCount;
        av::av_channel_layout_default(&enc->ch_layout, AudioChannels);
        enc->sample_fmt = static_cast<AVSampleFormat>(AudioSampleFmt);
        if (codec && codec->sample_fmts && !Lists(codec->sample_fmts, AudioSampleFmt))
            enc->sample_fmt = codec->sample_fmts[0];
        CheckAudioValues(*this, codec);
        FitAudioBitRate(*this, enc, codec);
    }
    enc->sample_rate = AudioSampleRate;
    if (AudioSampleRate > 0) {
        enc->time_base = {1, AudioSampleRate};
        if (!AudioStreamCopy)
            st->time_base = enc->time_base;
    }
    SetLanguage(st, AudioLanguage);
    av::avcodec_parameters_from_context(st->codecpar, enc);

    AudioDisable = 0;
    AudioCodecName.clear();
    AudioStreamCopy = 0;
}

void TCustomFFmpeg::NewSubtitleStream(AVFormatContext* oc, int fileIndex) {
    AVStream* st = NewStream(oc);
    if (!st) {
        SubtitleCodecName.clear();
        SubtitleLanguage.clear();
        throw FFMpegException("Could not alloc stream");
    }
    BitstreamFilters[fileIndex][st->index] = SubtitleBitstreamFilters;
    SubtitleBitstreamFilters.clear();

    AVCodecID codecId = AV_CODEC_ID_NONE;
    const AVCodec* codec = nullptr;
    if (!SubtitleStreamCopy && !SubtitleCodecName.empty()) {
        if (!FindCodec(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, true, codecId)) {
            SubtitleCodecName.clear();
            SubtitleLanguage.clear();
            AttachEncoder(OutputEncoders[fileIndex], st, nullptr, AVMEDIA_TYPE_SUBTITLE);
            throw FFMpegException(SetupError);
        }
        codec = av::avcodec_find_encoder_by_name(SubtitleCodecName.c_str());
    } else if (!SubtitleStreamCopy) {
        // No codec named: the container's own subtitle codec.
        codecId = oc->oformat->subtitle_codec;
        codec = av::avcodec_find_encoder(codecId);
    }
    AVCodecContext* enc =
        AttachEncoder(OutputEncoders[fileIndex], st, codec, AVMEDIA_TYPE_SUBTITLE);
    if (SubtitleStreamCopy) {
        OutputStreamCopy[fileIndex][st->index] = true;
    } else {
        SetContextOptions(enc, CodecOptContexts[AVMEDIA_TYPE_SUBTITLE],
                          AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        enc->codec_id = codecId;
    }
    SetLanguage(st, SubtitleLanguage);
    av::avcodec_parameters_from_context(st->codecpar, enc);

    SubtitleDisable = 0;
    SubtitleCodecName.clear();
    SubtitleStreamCopy = 0;
}

void TCustomFFmpeg::NewCoverStream(AVFormatContext* oc, int fileIndex) {
    AVStream* st = NewStream(oc);
    if (!st)
        throw FFMpegException("Could not alloc stream");
    BitstreamFilters[fileIndex][st->index].clear();
    AttachEncoder(OutputEncoders[fileIndex], st, nullptr, AVMEDIA_TYPE_VIDEO);
    OutputStreamCopy[fileIndex][st->index] = true;
    st->disposition = AV_DISPOSITION_ATTACHED_PIC;
}

} // namespace mobivert::engine
