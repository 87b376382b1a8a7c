// Decoding one input packet and feeding the output streams that take its stream: decoded
// audio, decoded pictures, decoded subtitles, and packets copied as they are.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/transcode/TranscodeSteps.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace mobivert::engine {

namespace {

bool PassesStartTime(const TCustomFFmpeg& s, const InputStream& ist) {
    return s.StartTime == 0 || ist.Pts >= s.StartTime;
}

// With rate emulation an input is read no faster than its own timestamps advance: a unit that
// is due more than 50 ms from now is waited for (in short steps, so that a stop is not delayed).
void EmulateRate(TCustomFFmpeg& s, InputStream& ist) {
    if (!s.InputRateEmu[ist.FileIndex])
        return;
    if (ist.RateEmuOrigin == INT64_MIN)
        ist.RateEmuOrigin = ist.Pts;
    int64_t due = ist.Pts - ist.RateEmuOrigin;
    while (!s.StopRequested) {
        int64_t ahead = due - (av::av_gettime() - ist.Start);
        if (ahead <= 50000)
            break;
        av::av_usleep(static_cast<unsigned>(std::min<int64_t>(ahead, 50000)));
        s.PausePoint();
    }
    ++ist.Frame;
}

// Duration of one picture of the stream in microseconds, from the best rate it declares.
int64_t PictureDuration(const InputStream& ist, const AVFrame* frame) {
    AVRational rate =
        ist.Dec && ist.Dec->framerate.num > 0 ? ist.Dec->framerate : ist.St->avg_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        return av::av_rescale(1000000, rate.den, rate.num);
    if (frame && frame->pkt_duration > 0)
        return ToMicroseconds(frame->pkt_duration, ist.St->time_base);
    return 40000;
}

template <typename Visit>
void ForEachOutputOf(TCustomFFmpeg& s, TranscodeTables& t, int istIndex, Visit visit) {
    for (auto& ost : t.OutputStreams)
        if (ost->SourceIndex == istIndex)
            visit(s.OutputFiles[ost->FileIndex], *ost);
}

// Packed signed 16-bit (32-bit for deep sources of lossless outputs) at the decoder's own rate
// and channel count is what the audio path works on; the converter is made again when the
// decoder's output changes.
bool PrepareAudioConverter(InputStream& ist, const AVFrame* frame) {
    if (ist.PackedConverter && ist.PackedFormat == frame->format &&
        ist.PackedRate == frame->sample_rate && ist.PackedChannels == frame->ch_layout.nb_channels)
        return true;
    av::swr_free(&ist.PackedConverter);
    AVChannelLayout layout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av::av_channel_layout_default(&layout, frame->ch_layout.nb_channels);
    else
        av::av_channel_layout_copy(&layout, &frame->ch_layout);
    int ret = av::swr_alloc_set_opts2(
        &ist.PackedConverter, &layout, ist.PackedSampleFormat, frame->sample_rate, &layout,
        static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    av::av_channel_layout_uninit(&layout);
    if (ret < 0 || av::swr_init(ist.PackedConverter) < 0) {
        av::swr_free(&ist.PackedConverter);
        return false;
    }
    ist.PackedFormat = frame->format;
    ist.PackedRate = frame->sample_rate;
    ist.PackedChannels = frame->ch_layout.nb_channels;
    return true;
}

// Returns the number of bytes of packed samples in the session's decode buffer, or -1.
int ConvertToPacked(TCustomFFmpeg& s, InputStream& ist, const AVFrame* frame) {
    if (!PrepareAudioConverter(ist, frame))
        return -1;
    const int sampleBytes = av::av_get_bytes_per_sample(ist.PackedSampleFormat);
    size_t bytes =
        static_cast<size_t>(frame->nb_samples) * frame->ch_layout.nb_channels * sampleBytes;
    if (s.DecodeBuffer.size() < std::max<size_t>(bytes, 192000))
        s.DecodeBuffer.resize(std::max<size_t>(bytes * 2, 192000));
    uint8_t* out[] = {s.DecodeBuffer.data()};
    int samples =
        av::swr_convert(ist.PackedConverter, out, frame->nb_samples,
                        const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    if (samples < 0)
        return -1;
    return samples * frame->ch_layout.nb_channels * sampleBytes;
}

// Volume 256 is unchanged; the products are held to the sample's range.
template <typename Sample> void ApplyVolume(Sample* samples, int count, int volume) {
    constexpr int64_t lowest = std::numeric_limits<Sample>::min();
    constexpr int64_t highest = std::numeric_limits<Sample>::max();
    for (int i = 0; i < count; ++i) {
        int64_t value = (static_cast<int64_t>(samples[i]) * volume + 128) >> 8;
        samples[i] = static_cast<Sample>(std::clamp(value, lowest, highest));
    }
}

void TakeFrameTime(InputStream& ist, const AVFrame* frame) {
    ist.Pts = frame->best_effort_timestamp != NoPts
                  ? ToMicroseconds(frame->best_effort_timestamp, ist.St->time_base)
                  : ist.NextPts;
}

int DeliverAudio(TCustomFFmpeg& s, TranscodeTables& t, InputStream& ist, int istIndex,
                 const AVFrame* frame) {
    TakeFrameTime(ist, frame);
    EmulateRate(s, ist);
    int size = ConvertToPacked(s, ist, frame);
    if (size < 0)
        return -1;
    if (frame->sample_rate > 0)
        ist.NextPts = ist.Pts + av::av_rescale(frame->nb_samples, 1000000, frame->sample_rate);
    if (s.AudioVolume != 256 && ist.PackedSampleFormat == AV_SAMPLE_FMT_S32)
        ApplyVolume(reinterpret_cast<int32_t*>(s.DecodeBuffer.data()), size / 4, s.AudioVolume);
    else if (s.AudioVolume != 256)
        ApplyVolume(reinterpret_cast<int16_t*>(s.DecodeBuffer.data()), size / 2, s.AudioVolume);
    if (!PassesStartTime(s, ist))
        return 0;
    ForEachOutputOf(s, t, istIndex, [&](AVFormatContext* os, OutputStream& ost) {
        if (ost.EncodingNeeded)
            s.OutputAudioBuffer(os, ost, ist, s.DecodeBuffer.data(), size);
    });
    return 0;
}

void HandOnPicture(TCustomFFmpeg& s, TranscodeTables& t, InputStream& ist, int istIndex,
                   AVFrame* frame) {
    if (s.FiltersEnabled)
        FilterVideoFrame(s, t, ist, istIndex, frame);
    else
        FeedVideoOutputs(s, t, ist, istIndex, frame);
}

// Keeps a reference to the stream's first picture while it is its only one.
void KeepLonePicture(InputStream& ist, AVFrame* frame) {
    if (++ist.PicturesGiven == 1) {
        ist.LonePicture = av::av_frame_alloc();
        if (ist.LonePicture && av::av_frame_ref(ist.LonePicture, frame) < 0)
            av::av_frame_free(&ist.LonePicture);
    } else if (ist.LonePicture) {
        av::av_frame_free(&ist.LonePicture);
    }
}

int DeliverVideo(TCustomFFmpeg& s, TranscodeTables& t, InputStream& ist, int istIndex,
                 AVFrame* frame) {
    ist.Quality = static_cast<float>(frame->quality);
    TakeFrameTime(ist, frame);
    EmulateRate(s, ist);
    ist.NextPts = ist.Pts + PictureDuration(ist, frame);
    s.PreprocessVideoFrame(ist, frame);
    if (!PassesStartTime(s, ist))
        return 0;
    KeepLonePicture(ist, frame);
    HandOnPicture(s, t, ist, istIndex, frame);
    return 0;
}

// How far the sound of the stream's file that goes into the outputs has come (microseconds), or
// NoPts when none does.
int64_t OtherStreamsEnd(const TranscodeTables& t, const InputStream& ist) {
    int64_t end = NoPts;
    for (const auto& other : t.InputStreams)
        if (other.get() != &ist && other->FileIndex == ist.FileIndex && !other->Discard &&
            other->St->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            end = std::max(end, other->NextPts);
    return end;
}

// A video of one picture shows it for as long as its sound plays: at the end of the stream
// the picture is handed on once more at the time of the last picture that still fits, and the
// outputs repeat it up to there.
void HoldLonePicture(TCustomFFmpeg& s, TranscodeTables& t, InputStream& ist, int istIndex) {
    if (!ist.LonePicture)
        return;
    const int64_t end = OtherStreamsEnd(t, ist);
    const int64_t last = end == NoPts ? NoPts : end - PictureDuration(ist, nullptr);
    if (last != NoPts && last > ist.Pts) {
        ist.Pts = last;
        HandOnPicture(s, t, ist, istIndex, ist.LonePicture);
    }
    av::av_frame_free(&ist.LonePicture);
}

// Sends the packet (or the end of the stream) to the decoder and hands on every frame that
// comes back.
int DecodeFrames(TCustomFFmpeg& s, TranscodeTables& t, InputStream& ist, int istIndex,
                 AVPacket* pkt) {
    int ret = av::avcodec_send_packet(ist.Dec, pkt);
    if (ret < 0 && ret != AVERROR_EOF && ret != AVERROR(EAGAIN))
        return -1;
    int frames = 0;
    while (true) {
        ret = av::avcodec_receive_frame(ist.Dec, ist.DecodedFrame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0)
            return -1;
        if (pkt && ++frames == 2 && s.Verbose > 0 && s.OnLog)
            s.Log(0, Format("Multiple frames in a packet from stream %d", pkt->stream_index));
        int result = ist.Dec->codec_type == AVMEDIA_TYPE_AUDIO
                         ? DeliverAudio(s, t, ist, istIndex, ist.DecodedFrame)
                         : DeliverVideo(s, t, ist, istIndex, ist.DecodedFrame);
        av::av_frame_unref(ist.DecodedFrame);
        if (result < 0)
            return -1;
    }
}

// Whether a picture of the stream would wait for an encoder on its own thread.
bool FeedsAFullEncoder(const TranscodeTables& t, int istIndex) {
    for (const auto& ost : t.OutputStreams)
        if (ost->SourceIndex == istIndex && ost->Pipe && !ost->Pipe->HasRoom())
            return true;
    return false;
}

// The same for a video decoded in groups of pictures: the pictures come back in the stream's
// order, each with what its decoder knew of the stream. They come groups behind the packets, up
// to the whole end of the stream after the last packet: what the loop does between packets is
// done between them (pause, stop, progress, the runaway check), and after a stop none is
// handed on. While the encoder has its fill, the file is read on instead, so that the
// decoders go on with the groups ahead rather than wait with it.
int DecodeInGroups(TCustomFFmpeg& s, TranscodeTables& t, InputStream& ist, int istIndex,
                   AVPacket* pkt) {
    if (!ist.Groups->Send(pkt))
        throw FFMpegException("av_mallocz fail");
    GroupedDecoding::StreamState state;
    while (true) {
        s.PausePoint();
        if (s.StopRequested)
            return 0;
        ReportProgressIfDue(s, t);
        StopRunawayOutput(t);
        if (pkt && FeedsAFullEncoder(t, istIndex) && ist.Groups->TakesMorePackets())
            return 0;
        int ret = ist.Groups->Receive(ist.DecodedFrame, state);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0)
            return -1;
        state.ApplyTo(ist.Dec);
        int result = DeliverVideo(s, t, ist, istIndex, ist.DecodedFrame);
        av::av_frame_unref(ist.DecodedFrame);
        if (result < 0)
            return -1;
    }
}

int DecodeSubtitle(TCustomFFmpeg& s, TranscodeTables& t, InputStream& ist, int istIndex,
                   AVPacket* pkt) {
    if (!pkt)
        return 0;
    AVSubtitle subtitle{};
    int got = 0;
    if (av::avcodec_decode_subtitle2(ist.Dec, &subtitle, &got, pkt) < 0)
        return -1;
    if (!got)
        return 0;
    if (PassesStartTime(s, ist)) {
        ForEachOutputOf(s, t, istIndex, [&](AVFormatContext* os, OutputStream& ost) {
            if (ost.EncodingNeeded)
                s.OutputSubtitle(os, ost, ist, &subtitle, pkt->pts);
        });
    }
    av::avsubtitle_free(&subtitle);
    return 0;
}

void AdvanceCopiedStream(InputStream& ist, const AVPacket* pkt) {
    ist.NextPts += PacketDuration(ist, pkt);
}

void CopyPacket(TCustomFFmpeg& s, TranscodeTables& t, InputStream& ist, AVFormatContext* os,
                OutputStream& ost, const AVPacket* pkt) {
    // A copied stream starts at a key frame.
    if (ost.FrameNumber == 0 && !(pkt->flags & AV_PKT_FLAG_KEY))
        return;
    AVPacket* out = t.CopyPacket;
    if (av::av_packet_ref(out, pkt) < 0)
        throw FFMpegException("av_mallocz fail");
    AVRational from = ist.St->time_base;
    AVRational to = ost.St->time_base;
    out->stream_index = ost.Index;
    out->pts = pkt->pts != NoPts ? av::av_rescale_q(pkt->pts, from, to) : NoPts;
    out->dts = pkt->dts != NoPts ? av::av_rescale_q(pkt->dts, from, to)
                                 : av::av_rescale_q(ist.Pts, MicrosecondBase, to);
    out->duration = av::av_rescale_q(pkt->duration, from, to);
    if (ost.St->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
        s.AudioSize += pkt->size;
    } else if (ost.St->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        s.VideoSize += pkt->size;
        ost.SyncOpts += 1;
    }
    s.WritePacket(os, out, ost.Enc, ost.BitstreamFilter);
    ost.FrameNumber += 1;
    av::av_packet_unref(out);
}

void CopyToOutputs(TCustomFFmpeg& s, TranscodeTables& t, InputStream& ist, int istIndex,
                   const AVPacket* pkt) {
    if (!ist.DecodingNeeded)
        EmulateRate(s, ist);
    if (!PassesStartTime(s, ist))
        return;
    ForEachOutputOf(s, t, istIndex, [&](AVFormatContext* os, OutputStream& ost) {
        if (!ost.EncodingNeeded)
            CopyPacket(s, t, ist, os, ost, pkt);
    });
}

// DV carries a fixed share of sound in every picture: the muxer refuses a picture whose
// sound has not arrived, so its sound runs on (with silence) past the last picture, with room
// for pictures the decoders still hold.
constexpr double kDvSoundMarginSeconds = 0.5;

void PadDvSound(TCustomFFmpeg& s, TranscodeTables& t, AVFormatContext* os, OutputStream& ost) {
    if (std::strcmp(os->oformat->name, "dv") != 0)
        return;
    double pictures = 0;
    for (auto& other : t.OutputStreams)
        if (s.OutputFiles[other->FileIndex] == os && other->Enc->codec_type == AVMEDIA_TYPE_VIDEO)
            pictures = std::max(pictures, OutputTime(*other));
    if (pictures > 0)
        s.PadAudioTo(os, ost, pictures + kDvSoundMarginSeconds);
}

// At the end of an input stream every encoder it feeds gives up what it still holds.
void FlushEncoders(TCustomFFmpeg& s, TranscodeTables& t, int istIndex) {
    ForEachOutputOf(s, t, istIndex, [&](AVFormatContext* os, OutputStream& ost) {
        if (!ost.EncodingNeeded)
            return;
        switch (ost.Enc->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            PadDvSound(s, t, os, ost);
            s.FlushAudioFifo(os, ost);
            s.EncodeFrame(os, ost, nullptr);
            break;
        case AVMEDIA_TYPE_VIDEO:
            s.EncodeFrame(os, ost, nullptr);
            break;
        default:
            break;
        }
    });
}

} // namespace

int64_t ToMicroseconds(int64_t ts, AVRational base) {
    return av::av_rescale_q(ts, base, MicrosecondBase);
}

int64_t PacketDuration(const InputStream& ist, const AVPacket* pkt) {
    const AVCodecParameters* par = ist.St->codecpar;
    if (pkt->duration > 0)
        return ToMicroseconds(pkt->duration, ist.St->time_base);
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0)
        return av::av_rescale(par->frame_size, 1000000, par->sample_rate);
    if (par->codec_type == AVMEDIA_TYPE_VIDEO)
        return PictureDuration(ist, nullptr);
    return 0;
}

void FeedVideoOutputs(TCustomFFmpeg& s, TranscodeTables& t, InputStream& ist, int istIndex,
                      AVFrame* picture) {
    ForEachOutputOf(s, t, istIndex, [&](AVFormatContext* os, OutputStream& ost) {
        if (!ost.EncodingNeeded)
            return;
        // The statistics lines are written as the encoder gives back each picture.
        int frameSize = 0;
        s.OutputVideoFrame(os, ost, ist, picture, frameSize);
    });
}

bool TakeLastGroups(TCustomFFmpeg& s, TranscodeTables& t) {
    bool grouped = false;
    for (size_t i = 0; i < t.InputStreams.size(); ++i) {
        InputStream& ist = *t.InputStreams[i];
        if (!ist.DecodingNeeded || !ist.Groups)
            continue;
        grouped = true;
        // Each packet that did not decode is reported as it is while the file is read.
        while (DecodeInGroups(s, t, ist, static_cast<int>(i), nullptr) < 0) {
            std::string message =
                Format("Error while decoding stream #%d.%d", ist.FileIndex, ist.Index);
            if (s.ExitOnError)
                throw FFMpegException(message);
            if (s.Verbose >= 0 && s.OnLog)
                s.Log(1, message);
        }
    }
    return grouped && s.StopRequested;
}

int DecodePacket(TCustomFFmpeg& s, TranscodeTables& t, InputStream& ist, int istIndex,
                 AVPacket* pkt) {
    if (ist.NextPts == NoPts)
        ist.NextPts = ist.Pts;
    if (pkt && pkt->dts != NoPts)
        ist.Pts = ist.NextPts = ToMicroseconds(pkt->dts, ist.St->time_base);
    if (pkt) {
        ist.Pts = ist.NextPts;
        CopyToOutputs(s, t, ist, istIndex, pkt);
        if (!ist.DecodingNeeded) {
            AdvanceCopiedStream(ist, pkt);
            return 0;
        }
    }
    if (!ist.DecodingNeeded)
        return 0;
    int result = 0;
    switch (ist.Dec->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
    case AVMEDIA_TYPE_VIDEO:
        if (pkt && pkt->size == 0)
            return 0;
        result = ist.Groups ? DecodeInGroups(s, t, ist, istIndex, pkt)
                            : DecodeFrames(s, t, ist, istIndex, pkt);
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        result = DecodeSubtitle(s, t, ist, istIndex, pkt);
        break;
    default:
        return -1;
    }
    if (!pkt) {
        if (ist.Dec->codec_type == AVMEDIA_TYPE_VIDEO)
            HoldLonePicture(s, t, ist, istIndex);
        if (s.FiltersEnabled && ist.Dec->codec_type == AVMEDIA_TYPE_VIDEO)
            FilterVideoFrame(s, t, ist, istIndex, nullptr);
        FlushEncoders(s, t, istIndex);
    }
    return result;
}

} // namespace mobivert::engine
