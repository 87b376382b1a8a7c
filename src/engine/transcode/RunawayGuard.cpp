// Keeping an output within the length its source claims. Damaged sources (and some muxers)
// carry timestamps hours away from the rest of the file: a stream that starts that far away is
// re-based onto its file, a picture timestamp that strays from its decoding timestamp is
// replaced, a picture is repeated no further than the expected end, and a run whose output
// still passes the expected end by far is ended as a failure instead of writing on.

#include "binding/AVUtilHlpr.h"
#include "engine/open/SourceLength.h"
#include "engine/session/FFMpegException.h"
#include "engine/transcode/TranscodeSteps.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace mobivert::engine {

namespace {

// Without a known length a picture is repeated at most this long, and a stream is moved onto
// its file only when it starts this much beyond what was read of the file.
constexpr double kUnknownLengthRepeatSeconds = 3600.0;
constexpr int64_t kUnknownLengthStrayUs = 3600 * 1000000LL;

int64_t ThresholdUs(const TCustomFFmpeg& s) {
    return static_cast<int64_t>(s.DtsDeltaThreshold * 1000000.0);
}

// Input timestamp scales above 1 stretch a file's timeline.
double LargestScale(const TCustomFFmpeg& s, int file, const AVFormatContext* ic) {
    double largest = 1.0;
    for (unsigned k = 0; k < ic->nb_streams && k < MAX_STREAMS; ++k)
        largest = std::max(largest, s.InputTsScales[file][k]);
    return largest;
}

bool LoopsInput(const AVFormatContext* ic) {
    int64_t loop = 0;
    return av::av_opt_get_int(const_cast<AVFormatContext*>(ic), "loop", AV_OPT_SEARCH_CHILDREN,
                              &loop) >= 0 &&
           loop != 0;
}

void Shift(AVPacket* pkt, int64_t us, AVRational base) {
    int64_t shift = av::av_rescale_q(us, MicrosecondBase, base);
    if (pkt->dts != NoPts)
        pkt->dts += shift;
    if (pkt->pts != NoPts)
        pkt->pts += shift;
}

std::string Seconds(int64_t us) {
    return Format("%.3f s", static_cast<double>(us) / 1000000.0);
}

// After damaged timestamps a demuxer of presentation times only (Matroska) may guess decoding
// times equal to the presentation times of reordered pictures, so they step back. Such a
// guess would count as a discontinuity at every step back: the packet goes on without one.
void DropGuessedDecodingTime(AVPacket* pkt, InputStream& ist) {
    const int64_t last = ist.LastDts;
    if (pkt->dts != NoPts)
        ist.LastDts = pkt->dts;
    bool reordered = ist.St->codecpar->video_delay > 0 || (ist.Dec && ist.Dec->has_b_frames > 0);
    if (reordered && last != NoPts && pkt->dts != NoPts && pkt->dts < last && pkt->pts == pkt->dts)
        pkt->dts = NoPts;
}

} // namespace

void PrepareRunawayGuard(TCustomFFmpeg& s, TranscodeTables& t) {
    bool looped = s.LoopInput != 0;
    bool known = true;
    int64_t expectedEnd = 0;
    for (int f = 0; f < s.InputFileCount; ++f) {
        const AVFormatContext* ic = s.InputFiles[f];
        looped = looped || LoopsInput(ic);
        int64_t start = s.InputTsOffsets[f] + (ic->start_time != NoPts ? ic->start_time : 0);
        t.Files[f].WindowStart = start;
        if (!SourceLengthIsReliable(ic)) {
            known = false;
            continue;
        }
        auto length = static_cast<int64_t>(static_cast<double>(KnownSourceLength(ic)) *
                                           LargestScale(s, f, ic));
        t.Files[f].WindowEnd = start + length;
        // An offset that places the file later makes the output longer on purpose.
        expectedEnd = std::max({expectedEnd, start + length, length});
    }
    if (looped || s.InputFileCount == 0)
        return;
    if (!known) {
        // Judged by what is read as the run goes on.
        t.BoundByReading = true;
        return;
    }
    t.ExpectedEnd = expectedEnd;
    t.OutputTimeLimit = 2 * expectedEnd + RunawayMarginUs;
}

void RebaseStrayTimestamps(TCustomFFmpeg& s, TranscodeTables& t, AVPacket* pkt, InputStream& ist) {
    const AVRational base = ist.St->time_base;
    if (ist.Rebase)
        Shift(pkt, ist.Rebase, base);
    const int64_t threshold = ThresholdUs(s);
    const int64_t first = pkt->dts != NoPts ? pkt->dts : pkt->pts;
    if (!ist.TimestampSeen && first != NoPts) {
        ist.TimestampSeen = true;
        const InputFile& file = t.Files[ist.FileIndex];
        int64_t at = av::av_rescale_q(first, base, MicrosecondBase);
        // Without a known length the file's end is only known as far as it was read, so only
        // a start far beyond that counts as stray (and none before the file's start).
        const bool lengthKnown = file.WindowEnd != NoPts;
        int64_t end = t.BoundByReading ? FileEndSoFar(s, t, ist.FileIndex) : file.WindowEnd;
        int64_t beyond = lengthKnown ? threshold : std::max(threshold, kUnknownLengthStrayUs);
        if (end != NoPts &&
            (at > end + beyond || (lengthKnown && at < file.WindowStart - threshold))) {
            int64_t shift = file.WindowStart - at;
            ist.Rebase += shift;
            Shift(pkt, shift, base);
            if (s.Verbose >= 0 && s.OnLog)
                s.Log(1, Format("Stream #%d.%d starts %s away from its file; its timestamps "
                                "are moved to the file's start",
                                ist.FileIndex, ist.Index, Seconds(-shift).c_str()));
        }
    }
    DropGuessedDecodingTime(pkt, ist);
    // A presentation time far from the decoding time of the same packet is damaged: the
    // decoding time stands in for it.
    if (pkt->pts != NoPts && pkt->dts != NoPts) {
        int64_t apart = av::av_rescale_q(pkt->pts - pkt->dts, base, MicrosecondBase);
        if (std::llabs(apart) > threshold) {
            if (s.Verbose >= 0 && s.OnLog)
                s.Log(1, Format("Stream #%d.%d: a packet's presentation time lies %s from its "
                                "decoding time; the decoding time is used",
                                ist.FileIndex, ist.Index, Seconds(apart).c_str()));
            pkt->pts = pkt->dts;
        }
    }
}

int64_t CapPictureRepeats(const TCustomFFmpeg& s, const OutputStream& ost, int64_t repeat) {
    if (repeat <= 1)
        return repeat;
    double base = av_q2d(ost.Enc->time_base);
    if (!(base > 0.0))
        return repeat;
    double lastSecond = kUnknownLengthRepeatSeconds + static_cast<double>(ost.SyncOpts) * base;
    if (s.Tables && s.Tables->ExpectedEnd != NoPts)
        lastSecond = static_cast<double>(s.Tables->ExpectedEnd + ThresholdUs(s)) / 1000000.0;
    double room = lastSecond / base - static_cast<double>(ost.SyncOpts);
    if (room >= static_cast<double>(repeat))
        return repeat;
    return std::max<int64_t>(1, static_cast<int64_t>(room));
}

void StopIfRunaway(const TranscodeTables& t, double seconds) {
    if (t.OutputTimeLimit == INT64_MAX ||
        seconds <= static_cast<double>(t.OutputTimeLimit) / 1000000.0)
        return;
    // Without a known length the bound is what was read: the output outran its source.
    if (t.BoundByReading)
        throw FFMpegException(RepeatingSourceText(t.ExpectedEnd));
    throw FFMpegException(Format("The output reached %.1f s while the source lasts %.1f s: the "
                                 "source's timestamps are damaged, so the conversion was stopped",
                                 seconds, static_cast<double>(t.ExpectedEnd) / 1000000.0));
}

double WrittenTime(const OutputStream& ost) {
    const AVCodecContext* enc = ost.Enc;
    if (!ost.EncodingNeeded)
        return 0.0;
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO)
        return static_cast<double>(ost.FrameNumber) * av_q2d(enc->time_base);
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO && enc->sample_rate > 0)
        return static_cast<double>(ost.SamplesWritten) / enc->sample_rate;
    return 0.0;
}

void StopRunawayOutput(const TranscodeTables& t) {
    for (auto& ost : t.OutputStreams)
        StopIfRunaway(t, std::max(OutputTime(*ost), WrittenTime(*ost)));
}

} // namespace mobivert::engine
