// The audio output path: decoded audio arrives as packed signed 16-bit samples (32-bit from deep
// sources for encoders that take them) at the decoder's rate and channel count. Per output
// stream it is brought in step with the input's timestamps,
// converted to the encoder's channel layout, rate and sample format by one libswresample
// context, collected into whole encoder frames (or handed over as it comes, to encoders that take
// any number of samples) and encoded.

#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "engine/audio/AudioSync.h"
#include "engine/session/FFMpegException.h"
#include "engine/transcode/TranscodeSteps.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace mobivert::engine {

namespace {

// Largest piece of inserted silence handed down the path at once, in bytes of input samples.
constexpr int SilenceChunkSize = 131072;
// Sample formats FFmpeg knows; a format pair is encoder format + this x decoder format.
constexpr int SampleFormatCount = AV_SAMPLE_FMT_NB;

int DecoderChannels(const InputStream& ist) {
    if (ist.PackedChannels > 0)
        return ist.PackedChannels;
    return ist.Dec ? ist.Dec->ch_layout.nb_channels : 0;
}

int DecoderRate(const InputStream& ist) {
    if (ist.PackedRate > 0)
        return ist.PackedRate;
    return ist.Dec ? ist.Dec->sample_rate : 0;
}

// Encoders with a fixed frame size are fed whole frames from the FIFO; the others (PCM and its
// kin) take every buffer as it comes.
bool FrameBased(const AVCodecContext* enc) {
    return enc->frame_size > 1;
}

const char* SampleFormatName(int format) {
    const char* name = av::av_get_sample_fmt_name(static_cast<AVSampleFormat>(format));
    return name ? name : "none";
}

// The decoder's layout when it describes the packed channels, else the usual one for the count.
void InputLayout(const InputStream& ist, int channels, AVChannelLayout& layout) {
    if (ist.Dec && ist.Dec->ch_layout.nb_channels == channels &&
        ist.Dec->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC)
        av::av_channel_layout_copy(&layout, &ist.Dec->ch_layout);
    else
        av::av_channel_layout_default(&layout, channels);
}

// Makes, or makes again when the decoder's output changed, the converter from the packed input
// to the encoder's layout, rate and format. None is needed when all three already agree.
void PrepareConverter(TCustomFFmpeg& s, OutputStream& ost, const InputStream& ist, int channels,
                      int rate) {
    AVCodecContext* enc = ost.Enc;
    if (enc->ch_layout.nb_channels != channels || enc->sample_rate != rate)
        ost.AudioResample = 1;
    const AVSampleFormat input = ost.PackedInput;
    const bool reformat = enc->sample_fmt != input;
    const int pair = enc->sample_fmt + SampleFormatCount * input;
    if (!ost.AudioResample && !reformat)
        return;
    const bool inputChanged = ost.ResampleInRate != rate || ost.ResampleInChannels != channels;
    if (ost.Resample && !inputChanged && (!reformat || pair == ost.ReformatPair))
        return;

    av::swr_free(&ost.Resample);
    AVChannelLayout inLayout{};
    InputLayout(ist, channels, inLayout);
    int ret = av::swr_alloc_set_opts2(&ost.Resample, &enc->ch_layout, enc->sample_fmt,
                                      enc->sample_rate, &inLayout, input, rate, 0, nullptr);
    av::av_channel_layout_uninit(&inLayout);
    // A downmix adds channels together: the matrix is scaled so that no output sample can pass
    // full scale, whatever sample format the encoder takes. (The library does this by itself
    // only for integer formats; float encoders such as AAC and WMA would clip.) The centre
    // keeps its usual share, so dialogue stays as loud against the rest as in the source.
    if (ret >= 0)
        ret = av::av_opt_set_double(ost.Resample, "rematrix_maxval", 1.0, 0);
    // Stretching needs the resampler even when the two rates are equal.
    if (ret >= 0 && s.AudioSyncMethod > 1)
        ret = av::av_opt_set_int(ost.Resample, "flags", SWR_FLAG_RESAMPLE, 0);
    if (ret < 0 || av::swr_init(ost.Resample) < 0) {
        av::swr_free(&ost.Resample);
        if (ost.AudioResample)
            throw FFMpegException(
                Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", channels,
                       rate, enc->ch_layout.nb_channels, enc->sample_rate));
        throw FFMpegException(Format("Cannot convert %s sample format to %s sample format",
                                     SampleFormatName(input), SampleFormatName(enc->sample_fmt)));
    }
    ost.ResampleInRate = rate;
    ost.ResampleInChannels = channels;
    if (reformat)
        ost.ReformatPair = pair;
}

// Grows the converter's output buffer to hold at least `samples` samples per channel.
void EnsureConvertCapacity(OutputStream& ost, int samples) {
    if (samples <= ost.ConvertCapacity)
        return;
    const AVCodecContext* enc = ost.Enc;
    const int channels = enc->ch_layout.nb_channels;
    const bool planar = av::av_sample_fmt_is_planar(enc->sample_fmt);
    const size_t planes = planar ? static_cast<size_t>(channels) : 1;
    const size_t bytesPerSample = static_cast<size_t>(av::av_get_bytes_per_sample(enc->sample_fmt));
    // Planes start on 64-byte boundaries, as FFmpeg's own sample buffers do.
    size_t planeSize = static_cast<size_t>(samples) * bytesPerSample * (planar ? 1 : channels);
    planeSize = (planeSize + 63) & ~size_t{63};
    try {
        ost.ConvertBuffer.resize(planeSize * planes + 64);
        ost.ConvertPlanes.resize(planes);
    } catch (const std::bad_alloc&) {
        throw FFMpegException("av_malloc failed");
    }
    uint8_t* base = ost.ConvertBuffer.data();
    base += (64 - reinterpret_cast<uintptr_t>(base) % 64) % 64;
    for (size_t plane = 0; plane < planes; ++plane)
        ost.ConvertPlanes[plane] = base + plane * planeSize;
    ost.ConvertCapacity = samples;
}

// The stream's encoder frame, writable and sized for `samples` samples per channel. Its buffer
// is reused from call to call and grows only when a call brings more samples than ever before.
AVFrame* PrepareEncoderFrame(OutputStream& ost, int samples) {
    AVFrame* frame = ost.EncoderFrame;
    const AVCodecContext* enc = ost.Enc;
    if (samples > ost.EncoderFrameCapacity) {
        av::av_frame_unref(frame);
        frame->format = enc->sample_fmt;
        frame->sample_rate = enc->sample_rate;
        frame->nb_samples = samples;
        if (av::av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0 ||
            av::av_frame_get_buffer(frame, 0) < 0)
            throw FFMpegException("av_malloc failed");
        ost.EncoderFrameCapacity = samples;
    } else {
        // The encoder lets go of the previous frame's buffer once it has coded it; should it
        // still hold it, the frame gets a fresh one.
        frame->nb_samples = ost.EncoderFrameCapacity;
        if (av::av_frame_make_writable(frame) < 0)
            throw FFMpegException("av_malloc failed");
    }
    frame->nb_samples = samples;
    return frame;
}

// The frame's timestamp is the stream's sample position; it never goes back behind the end of
// the previous frame, which the muxer would refuse.
void StampFrame(OutputStream& ost, AVFrame* frame) {
    int64_t pts = ost.SyncOpts;
    if (ost.NextFramePts != NoPts && pts < ost.NextFramePts)
        pts = ost.NextFramePts;
    frame->pts = pts;
    ost.NextFramePts = pts + frame->nb_samples;
    ost.SamplesWritten += frame->nb_samples;
}

int EncodeFromFifo(TCustomFFmpeg& s, AVFormatContext* os, OutputStream& ost, int samples) {
    AVFrame* frame = PrepareEncoderFrame(ost, samples);
    if (av::av_audio_fifo_read(ost.SampleFifo, reinterpret_cast<void**>(frame->extended_data),
                               samples) < samples)
        throw FFMpegException("Audio encoding failed");
    StampFrame(ost, frame);
    ost.SyncOpts += samples;
    return s.EncodeFrame(os, ost, frame);
}

// Frame-based encoders: the samples join the FIFO, and every whole frame in it is encoded.
void QueueAndEncode(TCustomFFmpeg& s, AVFormatContext* os, OutputStream& ost,
                    uint8_t* const* planes, int samples) {
    AVCodecContext* enc = ost.Enc;
    if (!ost.SampleFifo) {
        ost.SampleFifo = av::av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels,
                                                 std::max(samples, enc->frame_size) * 2);
        if (!ost.SampleFifo)
            throw FFMpegException("av_fifo_realloc2() failed");
    }
    if (av::av_audio_fifo_write(ost.SampleFifo,
                                reinterpret_cast<void**>(const_cast<uint8_t**>(planes)),
                                samples) < samples)
        throw FFMpegException("av_fifo_realloc2() failed");
    while (av::av_audio_fifo_size(ost.SampleFifo) >= enc->frame_size)
        EncodeFromFifo(s, os, ost, enc->frame_size);
}

// Sample-based encoders: the whole buffer becomes one frame and so one packet.
void EncodeAsOneFrame(TCustomFFmpeg& s, AVFormatContext* os, OutputStream& ost,
                      uint8_t* const* planes, int samples) {
    const AVCodecContext* enc = ost.Enc;
    AVFrame* frame = PrepareEncoderFrame(ost, samples);
    const int channels = enc->ch_layout.nb_channels;
    const size_t bytesPerSample = static_cast<size_t>(av::av_get_bytes_per_sample(enc->sample_fmt));
    if (av::av_sample_fmt_is_planar(enc->sample_fmt)) {
        for (int c = 0; c < channels; ++c)
            std::copy_n(planes[c], samples * bytesPerSample, frame->extended_data[c]);
    } else {
        std::copy_n(planes[0], samples * bytesPerSample * channels, frame->extended_data[0]);
    }
    StampFrame(ost, frame);
    ost.SyncOpts += samples;
    s.EncodeFrame(os, ost, frame);
}

void EncodeSamples(TCustomFFmpeg& s, AVFormatContext* os, OutputStream& ost, uint8_t* const* planes,
                   int samples) {
    if (samples <= 0)
        return;
    ost.SourceSamples += samples;
    if (FrameBased(ost.Enc))
        QueueAndEncode(s, os, ost, planes, samples);
    else
        EncodeAsOneFrame(s, os, ost, planes, samples);
}

// Converts `samples` packed input samples per channel (none, to drain the converter) into the
// encoder's format; returns the samples per channel that came out, or -1 when the conversion
// failed and the run goes on.
int Convert(TCustomFFmpeg& s, OutputStream& ost, const uint8_t* data, int samples) {
    int capacity = av::swr_get_out_samples(ost.Resample, samples);
    if (capacity < 0)
        return -1;
    if (capacity == 0 && !data)
        return 0;
    // Input that yields no output yet is still handed over: the converter keeps it.
    capacity = std::max(capacity, 1);
    EnsureConvertCapacity(ost, capacity);
    const uint8_t* in[] = {data};
    int count = av::swr_convert(ost.Resample, ost.ConvertPlanes.data(), capacity,
                                data ? in : nullptr, data ? samples : 0);
    if (count < 0) {
        if (s.ExitOnError)
            throw FFMpegException("av_audio_convert() failed");
        s.Log(0, "av_audio_convert() failed");
        return -1;
    }
    return count;
}

// Steps after the timing: conversion, then encoding.
void FeedSamples(TCustomFFmpeg& s, AVFormatContext* os, OutputStream& ost, const uint8_t* data,
                 int samples) {
    if (samples <= 0)
        return;
    if (!ost.Resample) {
        uint8_t* planes[] = {const_cast<uint8_t*>(data)};
        EncodeSamples(s, os, ost, planes, samples);
        return;
    }
    int count = Convert(s, ost, data, samples);
    if (count > 0)
        EncodeSamples(s, os, ost, ost.ConvertPlanes.data(), count);
}

// Silence goes down the path in bounded pieces ahead of the buffer it precedes.
void FeedSilence(TCustomFFmpeg& s, AVFormatContext* os, OutputStream& ost, int64_t bytes,
                 int frameBytes) {
    const int64_t chunk =
        std::min<int64_t>(bytes, SilenceChunkSize - SilenceChunkSize % frameBytes);
    if (chunk <= 0)
        return;
    if (static_cast<int64_t>(ost.SilenceBuffer.size()) < chunk) {
        try {
            ost.SilenceBuffer.assign(static_cast<size_t>(chunk), 0);
        } catch (const std::bad_alloc&) {
            throw FFMpegException("av_malloc failed");
        }
    }
    while (bytes > 0) {
        const int64_t piece = std::min(bytes, chunk);
        FeedSamples(s, os, ost, ost.SilenceBuffer.data(), static_cast<int>(piece / frameBytes));
        bytes -= piece;
    }
}

} // namespace

void TCustomFFmpeg::OutputAudioBuffer(AVFormatContext* os, OutputStream& ost, InputStream& ist,
                                      const uint8_t* buffer, int size) {
    AVCodecContext* enc = ost.Enc;
    const int channels = DecoderChannels(ist);
    const int rate = DecoderRate(ist);
    if (!enc || !buffer || channels <= 0 || rate <= 0 || enc->sample_rate <= 0 ||
        enc->ch_layout.nb_channels <= 0)
        return;
    ost.PackedInput = ist.PackedSampleFormat;
    const int frameBytes = av::av_get_bytes_per_sample(ost.PackedInput) * channels;
    size -= size % frameBytes;
    if (size <= 0)
        return;

    PrepareConverter(*this, ost, ist, channels, rate);

    const InputStream& syncIst = ost.SyncIst ? *ost.SyncIst : ist;
    AudioSyncState state;
    state.Method = AudioSyncMethod;
    state.DriftThreshold = AudioDriftThreshold;
    state.InputTime = static_cast<double>(syncIst.Pts - StartTime) / 1000000.0;
    state.SyncOpts = ost.SyncOpts;
    // Samples the converter still holds belong to the input already read: without them the
    // next frame's position would run ahead of the samples written, leaving gaps that muxers
    // which lock audio to pictures (DV) cannot take.
    state.QueuedSamples = (ost.SampleFifo ? av::av_audio_fifo_size(ost.SampleFifo) : 0) +
                          (ost.Resample ? av::swr_get_delay(ost.Resample, enc->sample_rate) : 0);
    state.EncoderRate = enc->sample_rate;
    state.DecoderRate = rate;
    state.DecoderChannels = channels;
    state.SampleBytes = av::av_get_bytes_per_sample(ost.PackedInput);
    state.IsStart = ist.IsStart != 0;
    state.Size = size;
    const AudioSyncDecision decision = DecideAudioSync(state);
    ost.SyncOpts = decision.SyncOpts;

    const bool report = Verbose > 2 && OnLog;
    switch (decision.Action) {
    case AudioSyncAction::None:
        break;
    case AudioSyncAction::DropAll:
    case AudioSyncAction::Discard:
        if (report)
            Log(1, Format("discarding %d audio samples", static_cast<int>(-decision.Drift)));
        if (decision.Action == AudioSyncAction::DropAll)
            return;
        buffer += decision.Bytes;
        size -= static_cast<int>(decision.Bytes);
        break;
    case AudioSyncAction::InsertSilence:
        FeedSilence(*this, os, ost, decision.Bytes, frameBytes);
        if (report)
            Log(1, Format("adding %d audio samples of silence", static_cast<int>(decision.Drift)));
        break;
    case AudioSyncAction::Stretch:
        if (report)
            Log(1, Format("compensating audio timestamp drift:%f compensation:%d in:%d",
                          decision.Drift, decision.Compensation, enc->sample_rate));
        if (ost.Resample)
            av::swr_set_compensation(ost.Resample, decision.Compensation, enc->sample_rate);
        break;
    }
    if (decision.ClearStart)
        ist.IsStart = 0;

    FeedSamples(*this, os, ost, buffer, size / frameBytes);
}

void TCustomFFmpeg::PadAudioTo(AVFormatContext* os, OutputStream& ost, double seconds) {
    const AVCodecContext* enc = ost.Enc;
    if (!enc || enc->sample_rate <= 0 || ost.NextFramePts == NoPts)
        return;
    // Silence enters the path as the input does: packed samples at the converter's input.
    const int rate = ost.Resample ? ost.ResampleInRate : enc->sample_rate;
    const int channels = ost.Resample ? ost.ResampleInChannels : enc->ch_layout.nb_channels;
    if (rate <= 0 || channels <= 0)
        return;
    const int64_t pending = (ost.SampleFifo ? av::av_audio_fifo_size(ost.SampleFifo) : 0) +
                            (ost.Resample ? av::swr_get_delay(ost.Resample, enc->sample_rate) : 0);
    const int64_t missing = std::llround(seconds * enc->sample_rate) - ost.NextFramePts - pending;
    if (missing <= 0)
        return;
    const int frameBytes = av::av_get_bytes_per_sample(ost.PackedInput) * channels;
    FeedSilence(*this, os, ost, (av::av_rescale(missing, rate, enc->sample_rate) + 1) * frameBytes,
                frameBytes);
}

int TCustomFFmpeg::FlushAudioFifo(AVFormatContext* os, OutputStream& ost) {
    AVCodecContext* enc = ost.Enc;
    if (!enc || !ost.EncoderFrame)
        return 0;
    const int64_t before = AudioSize;
    // What the resampler still holds belongs to the end of the stream.
    if (ost.Resample) {
        int count = 0;
        while ((count = Convert(*this, ost, nullptr, 0)) > 0)
            EncodeSamples(*this, os, ost, ost.ConvertPlanes.data(), count);
    }
    // FFmpeg takes a smaller last frame from every encoder: one that cannot code it gets it
    // padded with silence.
    if (FrameBased(enc) && ost.SampleFifo) {
        const int left = av::av_audio_fifo_size(ost.SampleFifo);
        if (left > 0)
            EncodeFromFifo(*this, os, ost, left);
    }
    return static_cast<int>(AudioSize - before);
}

} // namespace mobivert::engine
