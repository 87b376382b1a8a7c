// The progress record of a running transcode, and the summary at its end.

#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/transcode/TranscodeSteps.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>

namespace mobivert::engine {

namespace {

// Quantiser histogram shared by every session of the process.
std::array<std::atomic<int>, 52> quantiserHistogram{};

class ReportLine {
public:
    template <typename... Args> void Append(const char* format, Args... args) {
        size_t used = text_.size();
        if (used >= REPORT_BUFFER_SIZE - 1)
            return;
        char piece[REPORT_BUFFER_SIZE];
        snprintf(piece, REPORT_BUFFER_SIZE - used, format, args...);
        text_ += piece;
    }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
};

int64_t OutputSize(AVFormatContext* oc) {
    if (!oc || !oc->pb)
        return 0;
    int64_t size = av::avio_size(oc->pb);
    return size >= 0 ? size : av::avio_seek(oc->pb, 0, SEEK_CUR);
}

double Psnr(double error) {
    return -10.0 * std::log10(error);
}

void AppendPsnr(ReportLine& line, const OutputStream& ost, int frameNumber, bool isLast) {
    const AVCodecContext* enc = ost.Enc;
    double sumError = 0, sumScale = 0;
    static const char planes[] = {'Y', 'U', 'V'};
    line.Append("PSNR=");
    for (int j = 0; j < 3; ++j) {
        double error = static_cast<double>(isLast ? ost.TotalError[j] : ost.LastError[j]);
        double scale = static_cast<double>(enc->width) * enc->height * 255.0 * 255.0;
        if (isLast)
            scale *= frameNumber;
        if (j)
            scale /= 4;
        sumError += error;
        sumScale += scale;
        line.Append("%c:%2.2f ", planes[j], Psnr(error / scale));
    }
    line.Append("*:%2.2f ", Psnr(sumError / sumScale));
}

void AppendQuantiserHistogram(ReportLine& line, float quality) {
    int quantiser = static_cast<int>(std::nearbyint(quality));
    if (quantiser >= 0 && quantiser < 52)
        ++quantiserHistogram[quantiser];
    for (int j = 0; j < 32; ++j)
        line.Append("%X", static_cast<int>(std::nearbyint(std::log2(quantiserHistogram[j] + 1))));
}

// The output time handed to the progress handler in milliseconds. An output may end a little
// past the expected total (encoder padding, a length the source underestimates); progress
// never goes past the total.
int32_t ReportedTime(double seconds, int32_t totalMs) {
    auto ms = static_cast<int32_t>(std::min(seconds * 1000.0, 2147483647.0));
    return totalMs > 0 ? std::min(ms, totalMs) : ms;
}

} // namespace

void TCustomFFmpeg::PrintReport(bool isLastReport) {
    if (!Tables)
        return;
    int64_t totalSize = OutputSize(OutputFileCount > 0 ? OutputFiles[0] : nullptr);
    int32_t frameNumber = -1;
    int32_t fps = -1;
    float quality = -1.0f;
    double outputTime = 0.0;
    bool videoSeen = false;
    ReportLine line;

    for (auto& ost : Tables->OutputStreams) {
        const AVCodecContext* enc = ost->Enc;
        float streamQuality =
            ost->EncodingNeeded ? static_cast<float>(ost->LastQuality) / FF_QP2LAMBDA : -1.0f;
        if (enc->codec_type == AVMEDIA_TYPE_VIDEO && videoSeen)
            line.Append("q=%2.1f ", streamQuality);
        if (enc->codec_type == AVMEDIA_TYPE_VIDEO && !videoSeen) {
            float elapsed = static_cast<float>(av::av_gettime() - TimerStart) / 1000000.0f;
            frameNumber = ost->FrameNumber;
            if (frameNumber < 1)
                return;
            fps = elapsed > 1.0f ? static_cast<int32_t>(frameNumber / elapsed + 0.5f) : 0;
            quality = streamQuality;
            line.Append("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, quality);
            if (isLastReport)
                line.Append("L");
            if (QpHist)
                AppendQuantiserHistogram(line, quality);
            if (ost->EncodingNeeded && (enc->flags & AV_CODEC_FLAG_PSNR))
                AppendPsnr(line, *ost, frameNumber, isLastReport);
            videoSeen = true;
        }
        // The output's real position is its farthest stream: a stream whose source ended (or
        // stopped advancing) must not hold the position back while the others go on.
        outputTime = std::max(outputTime, OutputTime(*ost));
    }
    if (outputTime < 0.01)
        outputTime = 0.01;

    if (OnProgress || Verbose > 0 || isLastReport) {
        double bitRate = static_cast<double>(totalSize) * 8 / outputTime / 1000.0;
        line.Append("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", totalSize / 1024.0, outputTime,
                    bitRate);
        if (Verbose > 1)
            line.Append(" dup=%d drop=%d", FramesDup, FramesDrop);
        if (OnProgress) {
            int32_t at = ReportedTime(outputTime, TotalOutputDuration);
            int32_t total = TotalOutputDuration;
            // Each pass of a run in several passes takes its share of one progress.
            if (ProgressPassCount > 1 && total > 0) {
                const int64_t whole = static_cast<int64_t>(total) * ProgressPassCount;
                at = static_cast<int32_t>(
                    std::min<int64_t>(static_cast<int64_t>(total) * ProgressPass + at, INT32_MAX));
                total = static_cast<int32_t>(std::min<int64_t>(whole, INT32_MAX));
            }
            OnProgress(*this, frameNumber, fps, at, quality, static_cast<float>(bitRate), totalSize,
                       total);
        } else if (Verbose >= 0 && OnLog)
            Log(1, line.Text());
    }

    if (isLastReport && Verbose >= 0 && OnLog) {
        int64_t raw = AudioSize + VideoSize + ExtraSize;
        // With nothing counted there is no overhead to speak of: the summary says 0%.
        double overhead = raw > 0 ? static_cast<double>(totalSize - raw) * 100.0 / raw : 0.0;
        Log(1, Format("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                      VideoSize / 1024.0, AudioSize / 1024.0, ExtraSize / 1024.0, overhead));
    }
}

} // namespace mobivert::engine
