// Sending frames to an encoder and writing every packet it gives back.

#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/LibraryReason.h"
#include "engine/transcode/TranscodeSteps.h"
#include "engine/video/HardwareEncoder.h"

#include <cstring>

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace mobivert::engine {

namespace {

// The quality, picture type and per-plane error the encoder reports with each packet.
void TakeQualityStats(OutputStream& ost, const AVPacket* pkt) {
    size_t size = 0;
    const uint8_t* stats = av::av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &size);
    if (!stats || size < 5)
        return;
    ost.LastQuality = static_cast<int32_t>(AV_RL32(stats));
    ost.LastPictType = stats[4];
    int errors = size >= 6 ? stats[5] : 0;
    for (int i = 0; i < errors && i < 3 && 8 + 8 * (i + 1) <= static_cast<int>(size); ++i) {
        ost.LastError[i] = AV_RL64(stats + 8 + 8 * i);
        ost.TotalError[i] += ost.LastError[i];
    }
}

const char* EncodingFailure(const AVCodecContext* enc) {
    return enc->codec_type == AVMEDIA_TYPE_VIDEO ? "Video encoding failed"
                                                 : "Audio encoding failed";
}

// Encoders that keep a first pass's statistics to themselves (libvpx) give them all at once
// when they are drained, with no packet to carry them.
void WriteFinalPassStats(OutputStream& ost) {
    const char* stats = ost.Enc->stats_out;
    if (ost.LogFile && stats && *stats && ost.LastPassStats != stats) {
        fprintf(ost.LogFile, "%s", stats);
        ost.LastPassStats = stats;
    }
}

} // namespace

int TCustomFFmpeg::EncodeFrame(AVFormatContext* os, OutputStream& ost, AVFrame* frame) {
    // A hardware encoder takes its pictures in its device's memory.
    if (frame && ost.HardwareFrames)
        frame = UploadedPicture(ost, frame);
    if (ost.Pipe)
        return EncodeThroughPipe(os, ost, frame);
    AVCodecContext* enc = ost.Enc;
    LibraryReason reason;
    int ret = av::avcodec_send_frame(enc, frame);
    if (ret == AVERROR_EOF) {
        // Drained already (by the encoder's own thread).
        WriteFinalPassStats(ost);
        return 0;
    }
    if (ret < 0)
        throw FFMpegException(reason.Explain(EncodingFailure(enc)));
    AVPacket* pkt = Tables->CopyPacket;
    int written = 0;
    while (true) {
        ret = av::avcodec_receive_packet(enc, pkt);
        if (ret == AVERROR_EOF)
            WriteFinalPassStats(ost);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return written;
        if (ret < 0)
            throw FFMpegException(reason.Explain(EncodingFailure(enc)));
        written += WriteCodedPacket(os, ost, pkt, enc->stats_out);
    }
}

// A picture goes to the encoder's thread and the packets coded meanwhile are written; at the
// end (no frame) everything handed over is coded and written, the thread ends, and the encoder
// gives up what it still holds here.
int TCustomFFmpeg::EncodeThroughPipe(AVFormatContext* os, OutputStream& ost, AVFrame* frame) {
    if (frame && !ost.Pipe->Send(frame))
        throw FFMpegException("av_mallocz fail");
    if (!frame)
        ost.Pipe->Drain();
    int written = 0;
    std::vector<EncoderPipe::Coded> coded = ost.Pipe->Take();
    for (size_t i = 0; i < coded.size(); ++i) {
        try {
            written += WriteCodedPacket(os, ost, coded[i].Packet, coded[i].Stats.c_str());
        } catch (...) {
            for (size_t k = i; k < coded.size(); ++k)
                av::av_packet_free(&coded[k].Packet);
            throw;
        }
        av::av_packet_free(&coded[i].Packet);
    }
    if (std::string failure = ost.Pipe->Failure(); !failure.empty())
        throw FFMpegException(failure);
    if (frame)
        return written;
    ost.Pipe.reset();
    return written + EncodeFrame(os, ost, nullptr);
}

// Statistics of a coded packet, then the packet itself into the output.
int TCustomFFmpeg::WriteCodedPacket(AVFormatContext* os, OutputStream& ost, AVPacket* pkt,
                                    const char* passStats) {
    AVCodecContext* enc = ost.Enc;
    TakeQualityStats(ost, pkt);
    if (ost.LogFile && passStats && *passStats) {
        fprintf(ost.LogFile, "%s", passStats);
        ost.LastPassStats = passStats;
    }
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
        VideoSize += pkt->size;
        // One statistics line per coded picture, also for those an encoder gives back
        // late (reordering, look-ahead) or only when it is drained.
        ++ost.CodedPictures;
        int64_t position = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
        if (position != AV_NOPTS_VALUE)
            ost.LastCodedTime = static_cast<double>(position + 1) * av_q2d(enc->time_base);
        if (!VStatsFileName.empty())
            WriteVideoStats(os, ost, pkt->size);
    } else if (enc->codec_type == AVMEDIA_TYPE_AUDIO)
        AudioSize += pkt->size;
    const int size = pkt->size;
    pkt->stream_index = ost.Index;
    av::av_packet_rescale_ts(pkt, enc->time_base, ost.St->time_base);
    WritePacket(os, pkt, enc, ost.BitstreamFilter);
    av::av_packet_unref(pkt);
    return size;
}

} // namespace mobivert::engine
