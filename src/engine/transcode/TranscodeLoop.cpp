// Second half of a transcode run: the packet loop, the flush, the trailers and the closing.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/open/OpenErrorText.h"
#include "engine/session/CodecLock.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/LibraryReason.h"
#include "engine/transcode/TranscodeSteps.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace mobivert::engine {

double OutputTime(const OutputStream& ost) {
    if (ost.Enc->codec_type == AVMEDIA_TYPE_VIDEO && ost.EncodingNeeded)
        return static_cast<double>(ost.SyncOpts) * av_q2d(ost.Enc->time_base);
    return static_cast<double>(ost.CurrentPts) * av_q2d(ost.St->time_base);
}

namespace {

int MediaTypeIndex(AVMediaType type) {
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return 0;
    case AVMEDIA_TYPE_AUDIO:
        return 1;
    case AVMEDIA_TYPE_DATA:
        return 2;
    default:
        return 3;
    }
}

// By default the file feeding the output stream that lags most is read next; with InputSync
// the file with the smallest input timestamp. Returns -1 when nothing is left to read or a
// frame limit was reached; minOutputTime receives the smallest output time.
int ChooseInputFile(TCustomFFmpeg& s, TranscodeTables& t, double& minOutputTime) {
    double minInputTs = 1e100;
    minOutputTime = 1e100;
    int chosen = -1;
    for (auto& ost : t.OutputStreams) {
        InputStream& ist = *t.InputStreams[ost->SourceIndex];
        double outputTime = OutputTime(*ost);
        double inputTs = static_cast<double>(ist.Pts);
        if (!t.Files[ist.FileIndex].EofReached) {
            if (inputTs < minInputTs) {
                minInputTs = inputTs;
                if (s.InputSync)
                    chosen = ist.FileIndex;
            }
            if (outputTime < minOutputTime) {
                minOutputTime = outputTime;
                if (!s.InputSync)
                    chosen = ist.FileIndex;
            }
        }
        if (ost->FrameNumber >= s.MaxFrames[MediaTypeIndex(ost->Enc->codec_type)])
            return -1;
    }
    return chosen;
}

bool OutputSizeLimitReached(TCustomFFmpeg& s) {
    if (s.LimitFileSize == 0)
        return false;
    AVIOContext* pb = s.OutputFiles[0]->pb;
    return pb && av::avio_seek(pb, 0, SEEK_CUR) > static_cast<int64_t>(s.LimitFileSize);
}

int64_t RoundHalfEven(double value) {
    return static_cast<int64_t>(std::nearbyint(value));
}

void ApplyOffsetAndScale(TCustomFFmpeg& s, AVPacket* pkt, const AVStream* st, int file) {
    int64_t offset = av::av_rescale_q(s.InputTsOffsets[file], MicrosecondBase, st->time_base);
    if (pkt->dts != NoPts)
        pkt->dts += offset;
    if (pkt->pts != NoPts)
        pkt->pts += offset;
    double scale = pkt->stream_index < MAX_STREAMS ? s.InputTsScales[file][pkt->stream_index] : 0.0;
    if (scale != 0.0) {
        if (pkt->pts != NoPts)
            pkt->pts = RoundHalfEven(static_cast<double>(pkt->pts) * scale);
        if (pkt->dts != NoPts)
            pkt->dts = RoundHalfEven(static_cast<double>(pkt->dts) * scale);
    }
}

void DumpPacket(TCustomFFmpeg& s, AVPacket* pkt, AVFormatContext* ic) {
    if (s.DoPktDump)
        av::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt, s.DoHexDump,
                             ic->streams[pkt->stream_index]);
}

std::string ReadErrorReason(TCustomFFmpeg& s, int file, int error) {
    std::string reason = s.InputReadGuards[file].Reason();
    if (!reason.empty())
        return reason;
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av::av_strerror(error, text, sizeof text) < 0)
        return "error " + std::to_string(error);
    return text;
}

// Only the end of the file ends an input. A file that became shorter than it was when the run
// began was cut while it was read: its end is not the end of the source.
void CheckEndOfInput(TCustomFFmpeg& s, const InputFile& inputFile, int file, int error) {
    AVFormatContext* ic = s.InputFiles[file];
    std::string name = ic->url ? ic->url : "";
    if (error != AVERROR_EOF)
        throw FFMpegException("Error while reading " + name + ": " +
                              ReadErrorReason(s, file, error));
    int64_t size = ic->pb ? av::avio_size(ic->pb) : -1;
    if (inputFile.SizeAtStart > 0 && size >= 0 && size < inputFile.SizeAtStart)
        throw FFMpegException("Error while reading " + name +
                              ": the file became shorter while it was converted");
}

// Reads and handles one packet of the file; false when the loop must end.
bool ProcessOnePacket(TCustomFFmpeg& s, TranscodeTables& t, int file, AVPacket* pkt) {
    AVFormatContext* ic = s.InputFiles[file];
    s.InputReadGuards[file].Begin(PACKET_READ_BUDGET, 0);
    int ret = av::av_read_frame(ic, pkt);
    if (ret == AVERROR(EAGAIN))
        return true; // nothing yet; the next iteration reads again
    if (ret < 0) {
        // A stop request interrupts a read; the loop then ends as for any stop.
        if (s.StopRequested)
            return false;
        CheckEndOfInput(s, t.Files[file], file, ret);
        t.Files[file].EofReached = 1;
        return !s.Shortest;
    }
    DumpPacket(s, pkt, ic);
    const InputFile& inputFile = t.Files[file];
    // Every packet read counts, also those of streams left out of the output: a demuxer that
    // keeps handing out the same packets must not keep the run going.
    if (pkt->stream_index < inputFile.NbStreams)
        NoteInputRead(s, t, file, pkt, *t.InputStreams[inputFile.IstIndex + pkt->stream_index]);
    if (pkt->stream_index >= inputFile.NbStreams ||
        t.InputStreams[inputFile.IstIndex + pkt->stream_index]->Discard) {
        av::av_packet_unref(pkt);
        return true;
    }
    int istIndex = inputFile.IstIndex + pkt->stream_index;
    InputStream& ist = *t.InputStreams[istIndex];
    ApplyOffsetAndScale(s, pkt, ist.St, file);
    RebaseStrayTimestamps(s, t, pkt, ist);
    AbsorbDiscontinuity(s, t, pkt, ist, file);
    if (DecodePacket(s, t, ist, istIndex, pkt) < 0) {
        std::string message =
            Format("Error while decoding stream #%d.%d", ist.FileIndex, ist.Index);
        av::av_packet_unref(pkt);
        if (s.ExitOnError)
            throw FFMpegException(message);
        if (s.Verbose >= 0 && s.OnLog)
            s.Log(1, message);
        return true;
    }
    av::av_packet_unref(pkt);
    return true;
}

// The local path of an output's URL, or empty when the URL names another protocol.
std::string LocalPath(const char* url) {
    std::string text = url ? url : "";
    if (text.rfind("file:", 0) == 0)
        return text.substr(5);
    size_t colon = text.find(':');
    if (colon != std::string::npos && text.find('/') > colon)
        return {};
    return text;
}

// Real media is a picture, a copied packet, or sound of at least a hundredth of a second from
// the source: an encoder's padding around a few stray samples is not.
bool HoldsRealMedia(const TranscodeTables& t, int file) {
    bool soundOrPictures = false;
    for (const auto& ost : t.OutputStreams) {
        if (ost->FileIndex != file)
            continue;
        const AVCodecContext* enc = ost->Enc;
        const bool audio = enc->codec_type == AVMEDIA_TYPE_AUDIO;
        if (!audio && enc->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        soundOrPictures = true;
        const bool encodedSound = ost->EncodingNeeded && audio;
        if (encodedSound ? ost->SourceSamples * 100 >= enc->sample_rate : ost->FrameNumber > 0)
            return true;
    }
    return !soundOrPictures;
}

// Every output file is still where it is written (its folder may have been removed).
void CheckOutputsStillThere(TCustomFFmpeg& s) {
    for (int k = 0; k < s.OutputFileCount; ++k) {
        AVFormatContext* oc = s.OutputFiles[k];
        std::string path = LocalPath(oc->url);
        std::error_code ec;
        if ((oc->oformat->flags & AVFMT_NOFILE) || path.empty())
            continue;
        if (!std::filesystem::exists(path, ec) && !ec)
            throw FFMpegException(std::string(oc->url) +
                                  ": the output file is gone (its folder was removed or "
                                  "renamed during the conversion)");
    }
}

// A finished run has put media into every output, and every output file is still there.
void CheckOutputsWritten(TCustomFFmpeg& s, const TranscodeTables& t) {
    for (int k = 0; k < s.OutputFileCount; ++k) {
        AVFormatContext* oc = s.OutputFiles[k];
        std::string name = oc->url ? oc->url : "";
        // A first pass only gathers the encoder's statistics; some encoders give it no packets.
        if (s.DoPass != 1 && (s.OutputPacketCounts[k] == 0 || !HoldsRealMedia(t, k)))
            throw FFMpegException(name + ": no media was written (nothing in the source could "
                                         "be converted)");
    }
    CheckOutputsStillThere(s);
}

struct PacketHolder {
    AVPacket* pkt = av::av_packet_alloc();
    ~PacketHolder() { av::av_packet_free(&pkt); }
};

void CloseCodecsAtEnd(TCustomFFmpeg& s, TranscodeTables& t) {
    for (auto& ost : t.OutputStreams) {
        if (!ost->EncodingNeeded)
            continue;
        ost->Pipe.reset();
        av::av_freep(&ost->Enc->stats_in);
        std::lock_guard lock(CodecLock());
        av::avcodec_close(ost->Enc);
        s.OpenEncoders.remove(ost.get());
    }
    for (auto& ist : t.InputStreams) {
        if (!ist->DecodingNeeded)
            continue;
        ist->Groups.reset();
        std::lock_guard lock(CodecLock());
        av::avcodec_close(ist->Dec);
        s.OpenDecoders.remove(ist.get());
    }
}

} // namespace

void ReportProgressIfDue(TCustomFFmpeg& s, TranscodeTables& t) {
    int64_t now = av::av_gettime();
    if (now - t.LastReport > s.ProgressInterval) {
        t.LastReport = now;
        // Writing on to a file whose folder was removed would only waste the rest of the run.
        CheckOutputsStillThere(s);
        s.PrintReport(false);
    }
}

void RunTranscodeLoop(TCustomFFmpeg& s, TranscodeTables& t) {
    PacketHolder holder;
    if (!holder.pkt)
        throw FFMpegException("av_mallocz fail");
    t.LastReport = s.TimerStart;
    PrepareRunawayGuard(s, t);
    // Only a stop that ends the loop early makes the run unfinished; one that arrives while
    // the encoders are flushed or the trailer is written finds the output already complete.
    bool stoppedEarly = false;
    while (!(stoppedEarly = s.StopRequested)) {
        s.PausePoint();
        if ((stoppedEarly = s.StopRequested))
            break;
        double minOutputTime = 0;
        int file = ChooseInputFile(s, t, minOutputTime);
        if (file < 0)
            break;
        if (static_cast<double>(s.RecordingTime) / 1000000.0 <= minOutputTime)
            break;
        if (OutputSizeLimitReached(s))
            break;
        bool eofBefore = t.Files[file].EofReached;
        if (!ProcessOnePacket(s, t, file, holder.pkt))
            break;
        StopRunawayOutput(t);
        if (t.Files[file].EofReached != eofBefore)
            continue;
        ReportProgressIfDue(s, t);
    }

    // Pictures still decoded in groups at the input's end are the loop's work yet: a stop while
    // they are taken ends the run early.
    if (!stoppedEarly)
        stoppedEarly = TakeLastGroups(s, t);
    for (size_t i = 0; i < t.InputStreams.size(); ++i)
        if (t.InputStreams[i]->DecodingNeeded)
            DecodePacket(s, t, *t.InputStreams[i], static_cast<int>(i), nullptr);
    DrainBitstreamFilters(s, t);
    for (int k = 0; k < s.OutputFileCount; ++k) {
        AVFormatContext* oc = s.OutputFiles[k];
        LibraryReason reason;
        int ret = av::av_write_trailer(oc);
        // A muxer may report a failed final write as bad parameters; the byte stream knows.
        if (oc->pb && oc->pb->error < 0 && (ret >= 0 || IsOutOfSpace(oc->pb->error)))
            ret = oc->pb->error;
        if (ret < 0)
            throw FFMpegException(reason.Explain(WriteErrorText(ret, "av_write_trailer()")));
    }
    s.PrintReport(true);
    CloseCodecsAtEnd(s, t);
    if (!stoppedEarly)
        CheckOutputsWritten(s, t);
    s.Finished = !stoppedEarly;
}

} // namespace mobivert::engine
