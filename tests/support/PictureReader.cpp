#include "support/PictureReader.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "support/ShellCommand.h"

namespace mobivert::test {

namespace {

Picture ToPicture(const AVFrame* frame, SwsContext*& scaler, AVRational timeBase) {
    Picture picture;
    picture.Width = frame->width;
    picture.Height = frame->height;
    int64_t ts = frame->best_effort_timestamp;
    picture.Time = ts == AV_NOPTS_VALUE ? -1.0 : ts * av_q2d(timeBase);
    // Chroma planes of odd sizes round up; the slack covers the scaler's wide writes.
    int chromaWidth = (frame->width + 1) / 2;
    int chromaHeight = (frame->height + 1) / 2;
    picture.Y.resize(static_cast<size_t>(frame->width) * frame->height + 64);
    picture.U.resize(static_cast<size_t>(chromaWidth) * chromaHeight + 64);
    picture.V.resize(picture.U.size());
    scaler = av::sws_getCachedContext(
        scaler, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
        frame->width, frame->height, AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
    uint8_t* planes[4] = {picture.Y.data(), picture.U.data(), picture.V.data(), nullptr};
    int linesizes[4] = {frame->width, chromaWidth, chromaWidth, 0};
    av::sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, linesizes);
    return picture;
}

} // namespace

DecodedVideo DecodeVideo(const std::string& path, int maxPictures) {
    DecodedVideo video;
    AVFormatContext* ic = nullptr;
    if (av::avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0)
        return video;
    int index = -1;
    AVCodecContext* dec = nullptr;
    if (av::avformat_find_stream_info(ic, nullptr) >= 0)
        index = av::av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index >= 0) {
        const AVCodecParameters* par = ic->streams[index]->codecpar;
        const AVCodec* codec = av::avcodec_find_decoder(par->codec_id);
        dec = codec ? av::avcodec_alloc_context3(codec) : nullptr;
        if (dec && (av::avcodec_parameters_to_context(dec, par) < 0 ||
                    av::avcodec_open2(dec, codec, nullptr) < 0))
            av::avcodec_free_context(&dec);
    }
    if (!dec) {
        av::avformat_close_input(&ic);
        return video;
    }
    video.Opened = true;
    video.Codec = av::avcodec_get_name(dec->codec_id);
    video.Width = dec->width;
    video.Height = dec->height;
    AVRational timeBase = ic->streams[index]->time_base;
    AVPacket* pkt = av::av_packet_alloc();
    AVFrame* frame = av::av_frame_alloc();
    SwsContext* scaler = nullptr;
    auto receive = [&] {
        int ret;
        while ((ret = av::avcodec_receive_frame(dec, frame)) >= 0) {
            ++video.DecodedCount;
            if (static_cast<int>(video.Pictures.size()) < maxPictures)
                video.Pictures.push_back(ToPicture(frame, scaler, timeBase));
            av::av_frame_unref(frame);
        }
        if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
            ++video.DecodeErrors;
    };
    while (av::av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == index) {
            if (av::avcodec_send_packet(dec, pkt) < 0)
                ++video.DecodeErrors;
            receive();
        }
        av::av_packet_unref(pkt);
    }
    av::avcodec_send_packet(dec, nullptr);
    receive();
    av::sws_freeContext(scaler);
    av::av_frame_free(&frame);
    av::av_packet_free(&pkt);
    av::avcodec_free_context(&dec);
    av::avformat_close_input(&ic);
    return video;
}

bool PlaysInGStreamer(const std::string& path) {
    int status = -1;
    RunCommand("gst-launch-1.0 -q playbin uri='file://" + path +
                   "' video-sink='fakesink sync=false' audio-sink='fakesink sync=false' "
                   ">/dev/null 2>&1",
               &status);
    return status == 0;
}

} // namespace mobivert::test
