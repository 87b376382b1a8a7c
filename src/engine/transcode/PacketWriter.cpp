// The one way a packet reaches an output container: through the stream's bitstream filters,
// then interleaved.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/open/OpenErrorText.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/LibraryReason.h"
#include "engine/transcode/TranscodeRecords.h"
#include "engine/transcode/TranscodeSteps.h"

#include <cstring>

namespace mobivert::engine {

namespace {

void NoteStreamPosition(TCustomFFmpeg& s, AVFormatContext* os, const AVPacket* pkt) {
    if (!s.Tables)
        return;
    for (auto& ost : s.Tables->OutputStreams) {
        if (s.OutputFiles[ost->FileIndex] != os || ost->Index != pkt->stream_index)
            continue;
        int64_t ts = pkt->pts != NoPts ? pkt->pts : pkt->dts;
        if (ts != NoPts)
            ost->CurrentPts = ts + pkt->duration;
        return;
    }
}

void WriteInterleaved(TCustomFFmpeg& s, AVFormatContext* os, AVPacket* pkt) {
    NoteStreamPosition(s, os, pkt);
    LibraryReason reason;
    int ret = av::av_interleaved_write_frame(os, pkt);
    // Byte stream errors (a full disk) surface on the context rather than in the result.
    if (ret >= 0 && os->pb && os->pb->error < 0)
        ret = os->pb->error;
    // The one thing the RealMedia muxer leaves out (the packet is gone by now: the queue may
    // have been writing an earlier one).
    if (ret == AVERROR_PATCHWELCOME && std::strcmp(os->oformat->name, "rm") == 0)
        throw FFMpegException("A coded frame is larger than the 64 kB a RealMedia packet can "
                              "hold: lower the video bit rate or the picture size");
    if (ret < 0)
        throw FFMpegException(reason.Explain(WriteErrorText(ret, "av_interleaved_write_frame()")));
    for (int k = 0; k < s.OutputFileCount; ++k)
        if (s.OutputFiles[k] == os && s.OutputPacketCounts[k] >= 0)
            ++s.OutputPacketCounts[k];
}

void ReportFilterFailure(TCustomFFmpeg& s, const AVBSFContext* bsf, int streamIndex,
                         const AVCodecContext* enc, int error) {
    if (!s.OnLog && !s.ExitOnError)
        return;
    std::string subject =
        Format("%s failed for stream %d, codec %s", bsf->filter ? bsf->filter->name : "bsf",
               streamIndex, enc && enc->codec ? enc->codec->name : "copy");
    std::string message = OpenErrorText(error, subject);
    if (s.ExitOnError)
        throw FFMpegException(message);
    s.Log(0, message);
}

} // namespace

std::string WriteErrorText(int error, const std::string& call) {
    // Invalid data while writing is a packet the output format refused, not a header that
    // could not be parsed.
    if (error == AVERROR_INVALIDDATA || error == AVERROR(EINVAL)) {
        char reason[AV_ERROR_MAX_STRING_SIZE] = {};
        av::av_strerror(error, reason, sizeof reason);
        return call + ": the output format refused the data (" + reason + ")";
    }
    // A feature the library does not have for this format (it logs which as a warning).
    if (error == AVERROR_PATCHWELCOME)
        return call + ": the output format cannot hold this data (not implemented in the library)";
    return OpenErrorText(error, call);
}

void TCustomFFmpeg::WritePacket(AVFormatContext* os, AVPacket* pkt, AVCodecContext* enc,
                                AVBSFContext* bsf) {
    if (!bsf) {
        WriteInterleaved(*this, os, pkt);
        return;
    }
    const int streamIndex = pkt->stream_index;
    // The filter takes the packet over; a reference to it stays here, so that a packet the
    // filter fails on still goes out, as it came in.
    if (!Tables->FilterInput && !(Tables->FilterInput = av::av_packet_alloc()))
        throw FFMpegException("av_mallocz fail");
    AVPacket* original = Tables->FilterInput;
    av::av_packet_unref(original);
    if (av::av_packet_ref(original, pkt) < 0)
        throw FFMpegException("av_mallocz fail");
    int ret = av::av_bsf_send_packet(bsf, pkt);
    if (ret < 0) {
        ReportFilterFailure(*this, bsf, streamIndex, enc, ret);
        WriteInterleaved(*this, os, original);
        av::av_packet_unref(original);
        return;
    }
    bool written = false;
    while ((ret = av::av_bsf_receive_packet(bsf, pkt)) >= 0) {
        pkt->stream_index = streamIndex;
        WriteInterleaved(*this, os, pkt);
        written = true;
    }
    if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
        ReportFilterFailure(*this, bsf, streamIndex, enc, ret);
        if (!written)
            WriteInterleaved(*this, os, original);
    }
    av::av_packet_unref(original);
}

void DrainBitstreamFilters(TCustomFFmpeg& s, TranscodeTables& t) {
    AVPacket* pkt = t.CopyPacket;
    for (auto& ost : t.OutputStreams) {
        AVBSFContext* bsf = ost->BitstreamFilter;
        if (!bsf || av::av_bsf_send_packet(bsf, nullptr) < 0)
            continue;
        AVFormatContext* os = s.OutputFiles[ost->FileIndex];
        av::av_packet_unref(pkt);
        int ret;
        while ((ret = av::av_bsf_receive_packet(bsf, pkt)) >= 0) {
            pkt->stream_index = ost->Index;
            WriteInterleaved(s, os, pkt);
            av::av_packet_unref(pkt);
        }
        if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
            ReportFilterFailure(s, bsf, ost->Index, ost->Enc, ret);
    }
}

} // namespace mobivert::engine
