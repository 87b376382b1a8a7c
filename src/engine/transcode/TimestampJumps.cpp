// Taking timestamp jumps out of an input. A jump larger than the discontinuity threshold, or a
// step back behind the last packet, is absorbed into the file's offset so that the output has
// neither a gap nor pictures out of order. Each packet is judged against its stream's own
// packets: the decoded pictures lag the packets by the pictures the decoder holds back (one
// for each frame thread beyond the first), so a jump measured from them would come out short by
// as many pictures, and the part after it would land that many pictures early.

#include "binding/AVUtilHlpr.h"
#include "engine/transcode/TranscodeSteps.h"

#include <cstdlib>

namespace mobivert::engine {

namespace {

// In a stream of reordered pictures a decoding time equal to the presentation time may be a
// demuxer's guess from presentation times only (Matroska after damaged cluster times): such a
// time can step back by a few pictures without any damage, so only a jump counts for it.
bool MayBeGuessed(const AVPacket* pkt, const InputStream& ist) {
    bool reordered = ist.St->codecpar->video_delay > 0 || (ist.Dec && ist.Dec->has_b_frames > 0);
    return reordered && pkt->pts == pkt->dts;
}

void LogJump(TCustomFFmpeg& s, const TranscodeTables& t, const InputStream& ist, int file,
             int64_t delta) {
    if (s.Verbose >= 3 && s.OnLog)
        s.Log(1, Format("timestamp discontinuity %lld, new offset= %lld",
                        static_cast<long long>(delta),
                        static_cast<long long>(s.InputTsOffsets[file])));
    else if (s.Verbose >= 0 && s.OnLog && t.Files[file].WindowEnd != NoPts &&
             std::llabs(delta) > t.Files[file].WindowEnd - t.Files[file].WindowStart)
        s.Log(1, Format("Stream #%d.%d jumps %.3f s, beyond the length of its file; the jump "
                        "is taken out",
                        ist.FileIndex, ist.Index, static_cast<double>(delta) / 1000000.0));
}

// Moves the packet, and the rest of its file, by delta (microseconds) back.
void TakeOut(TCustomFFmpeg& s, const TranscodeTables& t, AVPacket* pkt, const InputStream& ist,
             int file, int64_t delta) {
    s.InputTsOffsets[file] -= delta;
    LogJump(s, t, ist, file, delta);
    int64_t shift = av::av_rescale_q(delta, MicrosecondBase, ist.St->time_base);
    if (pkt->dts != NoPts)
        pkt->dts -= shift;
    if (pkt->pts != NoPts)
        pkt->pts -= shift;
}

// The packet's clock moves on to where the next packet is due: from a decoding time when the
// packet has one, else by the packet's length from where this one was due.
void AdvancePacketClock(InputStream& ist, const AVPacket* pkt, bool trusted) {
    const int64_t length = PacketDuration(ist, pkt);
    if (pkt->dts != NoPts) {
        const int64_t at = ToMicroseconds(pkt->dts, ist.St->time_base);
        ist.NextPacketTime = at + length;
        if (trusted)
            ist.PacketTime = at;
    } else if (ist.NextPacketTime != NoPts) {
        ist.NextPacketTime += length;
    } else if (pkt->pts != NoPts) {
        ist.NextPacketTime = ToMicroseconds(pkt->pts, ist.St->time_base) + length;
    }
}

} // namespace

void AbsorbDiscontinuity(TCustomFFmpeg& s, const TranscodeTables& t, AVPacket* pkt,
                         InputStream& ist, int file) {
    if (s.CopyTs)
        return;
    const bool hasDts = pkt->dts != NoPts;
    const bool trusted = hasDts && !MayBeGuessed(pkt, ist);
    if ((hasDts || pkt->pts != NoPts) && ist.NextPacketTime != NoPts) {
        // A packet without a decoding time is judged by its presentation time, where only a
        // jump counts (pictures are reordered).
        const int64_t at = ToMicroseconds(hasDts ? pkt->dts : pkt->pts, ist.St->time_base);
        const int64_t delta = at - ist.NextPacketTime;
        const auto threshold = static_cast<int64_t>(s.DtsDeltaThreshold * 1000000.0);
        // Subtitles are sparse: a pause between two lines is no jump, only a step back is.
        const bool sparse = ist.St->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE;
        const bool jump = sparse ? delta < -threshold : std::llabs(delta) > threshold;
        const bool stepBack =
            trusted && !sparse && ist.PacketTime != NoPts && at + 1 < ist.PacketTime;
        if (jump || stepBack) {
            TakeOut(s, t, pkt, ist, file, delta);
            // The packet now lies where its stream's clock stands: the next ones are judged
            // from it, guessed or not.
            AdvancePacketClock(ist, pkt, hasDts);
            return;
        }
    }
    AdvancePacketClock(ist, pkt, trusted);
}

} // namespace mobivert::engine
