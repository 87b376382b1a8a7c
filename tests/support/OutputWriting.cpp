#include "support/OutputWriting.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/CodecLock.h"

#include <cstring>
#include <mutex>

namespace mobivert::test {

namespace {

std::string WritePackets(AVFormatContext* oc, AVStream* st, AVCodecContext* enc, AVFrame* frame) {
    if (av::avcodec_send_frame(enc, frame) < 0)
        return "the encoder refused a frame";
    AVPacket* packet = av::av_packet_alloc();
    std::string failure;
    while (av::avcodec_receive_packet(enc, packet) >= 0) {
        av::av_packet_rescale_ts(packet, enc->time_base, st->time_base);
        packet->stream_index = st->index;
        if (av::av_interleaved_write_frame(oc, packet) < 0)
            failure = "a packet could not be written";
        av::av_packet_unref(packet);
    }
    av::av_packet_free(&packet);
    return failure;
}

std::string EncodeVideo(AVFormatContext* oc, AVStream* st, AVCodecContext* enc) {
    if (enc->pix_fmt != AV_PIX_FMT_YUV420P)
        return "only 4:2:0 pictures are generated";
    AVFrame* frame = av::av_frame_alloc();
    frame->format = enc->pix_fmt;
    frame->width = enc->width;
    frame->height = enc->height;
    std::string failure;
    if (av::av_frame_get_buffer(frame, 0) < 0)
        failure = "no picture buffer";
    int frames = enc->time_base.num ? enc->time_base.den / enc->time_base.num : 25;
    for (int i = 0; failure.empty() && i < frames; ++i) {
        av::av_frame_make_writable(frame);
        for (int plane = 0; plane < 3; ++plane) {
            int rows = plane ? enc->height / 2 : enc->height;
            std::memset(frame->data[plane], plane ? 128 : (i * 8) & 0xFF,
                        static_cast<size_t>(frame->linesize[plane]) * rows);
        }
        frame->pts = i;
        failure = WritePackets(oc, st, enc, frame);
    }
    av::av_frame_free(&frame);
    return failure.empty() ? WritePackets(oc, st, enc, nullptr) : failure;
}

std::string EncodeAudio(AVFormatContext* oc, AVStream* st, AVCodecContext* enc) {
    int samples = enc->frame_size > 0 ? enc->frame_size : 1024;
    AVFrame* frame = av::av_frame_alloc();
    frame->format = enc->sample_fmt;
    frame->sample_rate = enc->sample_rate;
    frame->nb_samples = samples;
    av::av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
    std::string failure;
    if (av::av_frame_get_buffer(frame, 0) < 0)
        failure = "no sample buffer";
    for (int64_t pts = 0; failure.empty() && pts < enc->sample_rate; pts += samples) {
        av::av_frame_make_writable(frame);
        av::av_samples_set_silence(frame->extended_data, 0, samples, enc->ch_layout.nb_channels,
                                   enc->sample_fmt);
        frame->pts = pts;
        failure = WritePackets(oc, st, enc, frame);
    }
    av::av_frame_free(&frame);
    return failure.empty() ? WritePackets(oc, st, enc, nullptr) : failure;
}

} // namespace

std::string WriteGeneratedOutput(engine::TCustomFFmpeg& session, int fileIndex) {
    AVFormatContext* oc = session.OutputFiles[fileIndex];
    if (!oc)
        return "no output";
    const std::vector<AVCodecContext*>& encoders = session.OutputEncoders[fileIndex];
    for (unsigned i = 0; i < oc->nb_streams; ++i) {
        AVCodecContext* enc = i < encoders.size() ? encoders[i] : nullptr;
        if (!enc)
            return "stream " + std::to_string(i) + " has no encoder context";
        const AVCodec* codec = enc->codec ? enc->codec : av::avcodec_find_encoder(enc->codec_id);
        {
            std::lock_guard lock(engine::CodecLock());
            if (av::avcodec_open2(enc, codec, nullptr) < 0)
                return "the encoder of stream " + std::to_string(i) + " did not open";
        }
        av::avcodec_parameters_from_context(oc->streams[i]->codecpar, enc);
        oc->streams[i]->time_base = enc->time_base;
    }
    if (av::avformat_write_header(oc, nullptr) < 0)
        return "the header was refused";
    for (unsigned i = 0; i < oc->nb_streams; ++i) {
        AVCodecContext* enc = encoders[i];
        std::string failure = enc->codec_type == AVMEDIA_TYPE_VIDEO
                                  ? EncodeVideo(oc, oc->streams[i], enc)
                                  : EncodeAudio(oc, oc->streams[i], enc);
        if (!failure.empty())
            return failure;
    }
    if (av::av_write_trailer(oc) < 0)
        return "the trailer was refused";
    return {};
}

} // namespace mobivert::test
