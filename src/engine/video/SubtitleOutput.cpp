// Encoding decoded subtitles and writing them to their output stream.

#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/transcode/TranscodeSteps.h"

namespace mobivert::engine {

namespace {

constexpr int kSubtitleBufferSize = 65536;
constexpr AVRational kMilliseconds{1, 1000};

} // namespace

void TCustomFFmpeg::OutputSubtitle(AVFormatContext* os, OutputStream& ost, InputStream& ist,
                                   AVSubtitle* subtitle, int64_t pts) {
    if (pts == NoPts) {
        if (ExitOnError)
            throw FFMpegException("Subtitle packets must have a pts");
        Log(0, "Subtitle packets must have a pts");
        return;
    }
    if (SubtitleOutBuffer.empty())
        SubtitleOutBuffer.resize(kSubtitleBufferSize);
    AVCodecContext* enc = ost.Enc;
    // The encoder takes subtitles that start at their packet's time: the start offset moves
    // into the packet's timestamp, and both display times are restored afterwards.
    uint32_t start = subtitle->start_display_time;
    uint32_t end = subtitle->end_display_time;
    unsigned rects = subtitle->num_rects;
    subtitle->start_display_time = 0;
    subtitle->end_display_time = end >= start ? end - start : 0;
    int64_t base = av::av_rescale_q(pts, ist.St->time_base, ost.St->time_base);
    // A DVB subtitle is shown by one packet and taken down by a second, empty one at its end.
    bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    int packets = dvb ? 2 : 1;
    AVPacket* pkt = Tables->CopyPacket;
    for (int i = 0; i < packets; ++i) {
        subtitle->num_rects = i == 0 ? rects : 0;
        int size = av::avcodec_encode_subtitle(enc, SubtitleOutBuffer.data(), kSubtitleBufferSize,
                                               subtitle);
        subtitle->num_rects = rects;
        if (size < 0) {
            Log(0, "Subtitle encoding failed");
            continue;
        }
        av::av_packet_unref(pkt);
        pkt->data = SubtitleOutBuffer.data();
        pkt->size = size;
        pkt->stream_index = ost.Index;
        pkt->pts = base + av::av_rescale_q(i == 0 ? start : end, kMilliseconds, ost.St->time_base);
        pkt->dts = pkt->pts;
        if (!dvb)
            pkt->duration =
                av::av_rescale_q(subtitle->end_display_time, kMilliseconds, ost.St->time_base);
        WritePacket(os, pkt, enc, ost.BitstreamFilter);
        av::av_packet_unref(pkt);
    }
    subtitle->start_display_time = start;
    subtitle->end_display_time = end;
}

} // namespace mobivert::engine
