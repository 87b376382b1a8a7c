// How far each input has really been read, and the end of a run whose input stopped moving.
// A damaged file can make a demuxer hand out packets without end: the same packet again, or
// packets that lie no farther in the file than the ones before. Each would be decoded and
// coded as a new picture, so such a run is ended; and when a file's length is not known, what
// was read bounds the output instead.

#include "binding/AVUtilHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/transcode/TranscodeSteps.h"

#include <algorithm>

namespace mobivert::engine {

namespace {

// Packets of one stream that may lie no farther in the file than its farthest one so far
// (laced or parsed frames share a position; a demuxer going round in circles does not stop).
constexpr int32_t kPacketsInPlaceLimit = 1000;
// Packets of one stream that may repeat the one before (same presentation time and size).
constexpr int32_t kPacketRepeatLimit = 8;

int64_t ReadTime(const AVPacket* pkt, const AVStream* st) {
    int64_t ts = pkt->dts != NoPts ? pkt->dts : pkt->pts;
    return ts == NoPts ? NoPts : av::av_rescale_q(ts, st->time_base, MicrosecondBase);
}

// Steps forward count up to the discontinuity threshold (a larger jump is taken out of the
// output, so it adds nothing to it); a step back starts counting again from there.
void NoteTimestamp(const TCustomFFmpeg& s, InputFile& file, InputStream& ist, int64_t at) {
    if (at == NoPts)
        return;
    if (ist.LastReadTime != NoPts && at > ist.LastReadTime) {
        auto threshold = static_cast<int64_t>(s.DtsDeltaThreshold * 1000000.0);
        ist.Advance += std::min(at - ist.LastReadTime, threshold);
    }
    ist.LastReadTime = at;
    file.Advance = std::max(file.Advance, ist.Advance);
    file.TimestampsRead = true;
}

bool LiesInPlace(InputStream& ist, const AVPacket* pkt) {
    if (pkt->pos < 0)
        return false;
    if (pkt->pos > ist.FarthestPos) {
        ist.FarthestPos = pkt->pos;
        ist.PacketsInPlace = 0;
        return false;
    }
    return ++ist.PacketsInPlace > kPacketsInPlaceLimit;
}

bool RepeatsItself(InputStream& ist, const AVPacket* pkt) {
    bool same =
        pkt->pts != NoPts && pkt->pts == ist.LastPacketPts && pkt->size == ist.LastPacketSize;
    ist.LastPacketPts = pkt->pts;
    ist.LastPacketSize = pkt->size;
    ist.PacketRepeats = same ? ist.PacketRepeats + 1 : 0;
    return ist.PacketRepeats > kPacketRepeatLimit;
}

[[noreturn]] void StopRepeatingSource(TCustomFFmpeg& s, int64_t at) {
    std::string message = RepeatingSourceText(at);
    if (s.Verbose >= 0 && s.OnLog)
        s.Log(0, message);
    throw FFMpegException(message);
}

// How far a file has been read, in microseconds of output, or NoPts when nothing measures it
// (no timestamps, and no bit rate to turn its bytes into time).
int64_t ReadSoFar(const TCustomFFmpeg& s, const InputFile& file, int index) {
    const AVFormatContext* ic = s.InputFiles[index];
    int64_t byBytes = NoPts;
    if (ic->bit_rate > 0 && file.BytesRead > 0)
        byBytes = av::av_rescale(file.BytesRead, 8 * 1000000LL, ic->bit_rate);
    if (!file.TimestampsRead)
        return byBytes;
    double scale = 1.0;
    for (unsigned k = 0; k < ic->nb_streams && k < MAX_STREAMS; ++k)
        scale = std::max(scale, s.InputTsScales[index][k]);
    auto advance = static_cast<int64_t>(static_cast<double>(file.Advance) * scale);
    return std::max(advance, byBytes);
}

} // namespace

std::string RepeatingSourceText(int64_t at) {
    int64_t seconds = std::max<int64_t>(0, at) / 1000000;
    return Format("The source keeps repeating itself at %02lld:%02lld:%02lld: it is damaged",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60));
}

void NoteInputRead(TCustomFFmpeg& s, TranscodeTables& t, int fileIndex, const AVPacket* pkt,
                   InputStream& ist) {
    InputFile& file = t.Files[fileIndex];
    NoteTimestamp(s, file, ist, ReadTime(pkt, ist.St));
    if (pkt->pos >= 0)
        file.BytesRead = std::max(file.BytesRead, pkt->pos + pkt->size);
    bool inPlace = LiesInPlace(ist, pkt);
    if (RepeatsItself(ist, pkt) || inPlace)
        StopRepeatingSource(s, file.Advance);
    if (t.BoundByReading)
        UpdateReadingBound(s, t);
}

int64_t FileEndSoFar(const TCustomFFmpeg& s, const TranscodeTables& t, int fileIndex) {
    const InputFile& file = t.Files[fileIndex];
    if (file.WindowEnd != NoPts)
        return file.WindowEnd;
    int64_t read = ReadSoFar(s, file, fileIndex);
    return read == NoPts || file.WindowStart == NoPts ? NoPts : file.WindowStart + read;
}

void UpdateReadingBound(const TCustomFFmpeg& s, TranscodeTables& t) {
    int64_t expectedEnd = 0;
    for (int f = 0; f < s.InputFileCount; ++f) {
        int64_t end = FileEndSoFar(s, t, f);
        if (end == NoPts)
            return;
        expectedEnd = std::max({expectedEnd, end, end - t.Files[f].WindowStart});
    }
    t.ExpectedEnd = expectedEnd;
    t.OutputTimeLimit = 2 * expectedEnd + RunawayMarginUs;
}

} // namespace mobivert::engine
