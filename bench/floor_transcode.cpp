// The floor of the conversion benchmark: the least a program must do to convert a file with
// FFmpeg 5.1 -- demux, decode, encode, mux -- with the encoder settings the engine uses, and
// nothing else (no frame-rate keeping, no option layer, no hooks, no progress reports).
//
// Usage: floor_transcode INPUT OUTPUT VIDEO_ENCODER VIDEO_BITRATE AUDIO_ENCODER AUDIO_BITRATE
//                        [THREADS [VIDEO_OPTIONS]]
// THREADS is the thread count of every decoder and encoder (default 1, 0 the libraries' own).
// VIDEO_OPTIONS are the video encoder's own options, "name=value:name=value" (such as
// "preset=veryfast:crf=22" for constant quality at a speed).
//
// Linked against FFmpeg directly: it is a measuring stick, not part of the program.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void Fail(const std::string& what, int code = 0) {
    char text[256] = "";
    if (code)
        av_strerror(code, text, sizeof text);
    std::fprintf(stderr, "floor_transcode: %s %s\n", what.c_str(), text);
    std::exit(1);
}

struct Lane {
    int input = -1;
    AVStream* out = nullptr;
    AVCodecContext* dec = nullptr;
    AVCodecContext* enc = nullptr;
};

int threads = 1;

AVCodecContext* OpenDecoder(AVStream* st) {
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        Fail("no decoder");
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, st->codecpar);
    dec->pkt_timebase = st->time_base;
    dec->thread_count = threads;
    if (int ret = avcodec_open2(dec, codec, nullptr); ret < 0)
        Fail("open decoder", ret);
    return dec;
}

void Drain(AVFormatContext* oc, Lane& lane, AVPacket* pkt) {
    int ret;
    while ((ret = avcodec_receive_packet(lane.enc, pkt)) >= 0) {
        pkt->stream_index = lane.out->index;
        av_packet_rescale_ts(pkt, lane.enc->time_base, lane.out->time_base);
        if ((ret = av_interleaved_write_frame(oc, pkt)) < 0)
            Fail("write", ret);
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
        Fail("encode", ret);
}

void Encode(AVFormatContext* oc, Lane& lane, AVFrame* frame, AVPacket* pkt) {
    if (int ret = avcodec_send_frame(lane.enc, frame); ret < 0)
        Fail("send frame", ret);
    Drain(oc, lane, pkt);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 7 || argc > 9) {
        std::fprintf(stderr,
                     "usage: %s INPUT OUTPUT VENC VBITRATE AENC ABITRATE [THREADS [VOPTIONS]]\n",
                     argv[0]);
        return 2;
    }
    if (argc >= 8)
        threads = std::atoi(argv[7]);
    AVDictionary* videoOptions = nullptr;
    if (argc == 9 && av_dict_parse_string(&videoOptions, argv[8], "=", ":", 0) < 0)
        Fail("video options");
    AVFormatContext* ic = nullptr;
    if (int ret = avformat_open_input(&ic, argv[1], nullptr, nullptr); ret < 0)
        Fail("open input", ret);
    avformat_find_stream_info(ic, nullptr);
    AVFormatContext* oc = nullptr;
    avformat_alloc_output_context2(&oc, nullptr, nullptr, argv[2]);
    if (!oc)
        Fail("output format");

    Lane video, audio;
    video.input = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    audio.input = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (video.input < 0 || audio.input < 0)
        Fail("needs video and audio");

    {
        AVStream* st = ic->streams[video.input];
        video.dec = OpenDecoder(st);
        const AVCodec* codec = avcodec_find_encoder_by_name(argv[3]);
        if (!codec)
            Fail("no video encoder");
        AVCodecContext* enc = video.enc = avcodec_alloc_context3(codec);
        AVRational rate = st->r_frame_rate.num ? st->r_frame_rate : AVRational{25, 1};
        enc->time_base = av_inv_q(rate);
        enc->framerate = rate;
        enc->width = video.dec->width;
        enc->height = video.dec->height;
        enc->sample_aspect_ratio = video.dec->sample_aspect_ratio;
        enc->pix_fmt = AV_PIX_FMT_YUV420P;
        enc->bit_rate = std::atoll(argv[4]);
        enc->thread_count = threads;
        if (oc->oformat->flags & AVFMT_GLOBALHEADER)
            enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (int ret = avcodec_open2(enc, codec, &videoOptions); ret < 0)
            Fail("open video encoder", ret);
        av_dict_free(&videoOptions);
        video.out = avformat_new_stream(oc, nullptr);
        avcodec_parameters_from_context(video.out->codecpar, enc);
        video.out->time_base = enc->time_base;
    }
    {
        AVStream* st = ic->streams[audio.input];
        audio.dec = OpenDecoder(st);
        const AVCodec* codec = avcodec_find_encoder_by_name(argv[5]);
        if (!codec)
            Fail("no audio encoder");
        AVCodecContext* enc = audio.enc = avcodec_alloc_context3(codec);
        enc->sample_fmt = audio.dec->sample_fmt;
        enc->sample_rate = audio.dec->sample_rate;
        av_channel_layout_copy(&enc->ch_layout, &audio.dec->ch_layout);
        enc->time_base = {1, enc->sample_rate};
        enc->bit_rate = std::atoll(argv[6]);
        enc->thread_count = threads;
        if (oc->oformat->flags & AVFMT_GLOBALHEADER)
            enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (int ret = avcodec_open2(enc, codec, nullptr); ret < 0)
            Fail("open audio encoder", ret);
        audio.out = avformat_new_stream(oc, nullptr);
        avcodec_parameters_from_context(audio.out->codecpar, enc);
        audio.out->time_base = enc->time_base;
    }
    if (int ret = avio_open(&oc->pb, argv[2], AVIO_FLAG_WRITE); ret < 0)
        Fail("open output", ret);
    if (int ret = avformat_write_header(oc, nullptr); ret < 0)
        Fail("header", ret);

    AVPacket* in = av_packet_alloc();
    AVPacket* out = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto decodeAndEncode = [&](Lane& lane, AVPacket* pkt) {
        if (avcodec_send_packet(lane.dec, pkt) < 0)
            return;
        while (avcodec_receive_frame(lane.dec, frame) >= 0) {
            AVRational from = ic->streams[lane.input]->time_base;
            int64_t ts = frame->best_effort_timestamp;
            frame->pts =
                ts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(ts, from, lane.enc->time_base);
            frame->pict_type = AV_PICTURE_TYPE_NONE;
            Encode(oc, lane, frame, out);
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(ic, in) >= 0) {
        if (in->stream_index == video.input)
            decodeAndEncode(video, in);
        else if (in->stream_index == audio.input)
            decodeAndEncode(audio, in);
        av_packet_unref(in);
    }
    for (Lane* lane : {&video, &audio}) {
        decodeAndEncode(*lane, nullptr);
        Encode(oc, *lane, nullptr, out);
    }
    av_write_trailer(oc);

    av_frame_free(&frame);
    av_packet_free(&in);
    av_packet_free(&out);
    for (Lane* lane : {&video, &audio}) {
        avcodec_free_context(&lane->dec);
        avcodec_free_context(&lane->enc);
    }
    avio_closep(&oc->pb);
    avformat_free_context(oc);
    avformat_close_input(&ic);
    return 0;
}
