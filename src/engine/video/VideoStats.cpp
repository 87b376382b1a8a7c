// The per-picture video statistics file: one line for every picture an encoder coded, with
// its number and the time at its end in coding order.

#include "binding/AVUtilHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/transcode/TranscodeSteps.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace mobivert::engine {

void TCustomFFmpeg::WriteVideoStats(AVFormatContext* /*os*/, OutputStream& ost, int frameSize) {
    if (!VStatsFile) {
        VStatsFile = fopen(VStatsFileName.c_str(), "w");
        if (!VStatsFile)
            throw FFMpegException("fopen fail: " + VStatsFileName);
    }
    const AVCodecContext* enc = ost.Enc;
    if (enc->codec_type != AVMEDIA_TYPE_VIDEO)
        return;
    fprintf(VStatsFile, "frame= %5d q= %2.1f ", ost.CodedPictures,
            static_cast<double>(ost.LastQuality) / FF_QP2LAMBDA);
    if (enc->flags & AV_CODEC_FLAG_PSNR) {
        double scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
        fprintf(VStatsFile, "PSNR= %6.2f ",
                -10.0 * std::log10(static_cast<double>(ost.LastError[0]) / scale));
    }
    fprintf(VStatsFile, "f_size= %6d ", frameSize);
    double timeBase = av_q2d(enc->time_base);
    double time = std::max(ost.LastCodedTime, 0.01);
    double bitRate = frameSize * 8.0 / timeBase / 1000.0;
    double averageBitRate = static_cast<double>(VideoSize) * 8.0 / time / 1000.0;
    fprintf(VStatsFile, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
            static_cast<double>(VideoSize) / 1024.0, time, bitRate, averageBitRate);
    fprintf(VStatsFile, "type= %c\n",
            av::av_get_picture_type_char(static_cast<AVPictureType>(ost.LastPictType)));
}

} // namespace mobivert::engine
