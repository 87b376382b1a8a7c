#pragma once
// The steps of one transcode run, shared by the files that implement them.

#include "engine/session/FFmpeg.h"
#include "engine/transcode/TranscodeTables.h"

#include <string>

namespace mobivert::engine {

// Set-up: builds the tables, chooses sources, derives codec parameters, opens the codecs,
// copies meta-data and writes the headers. Failures are raised as FFMpegException.
void SetupTranscode(TCustomFFmpeg& session, TranscodeTables& tables);

// The packet loop, then the flush, the trailers, the last report and the codec closing.
void RunTranscodeLoop(TCustomFFmpeg& session, TranscodeTables& tables);

// Makes a progress report when the progress interval has passed since the last one.
void ReportProgressIfDue(TCustomFFmpeg& session, TranscodeTables& tables);

// At the end of the input: the packets each output stream's bitstream filters still hold are
// written before the trailer.
void DrainBitstreamFilters(TCustomFFmpeg& session, TranscodeTables& tables);

// Decodes one packet of an input stream (or flushes it, with pkt == nullptr) and feeds every
// output stream that takes it. Returns -1 when decoding failed.
int DecodePacket(TCustomFFmpeg& session, TranscodeTables& tables, InputStream& ist, int istIndex,
                 AVPacket* pkt);

// Takes the pictures that the streams decoded in groups still hold after their last packet;
// true when a stop came while they were taken (the rest are then dropped).
bool TakeLastGroups(TCustomFFmpeg& session, TranscodeTables& tables);

// Hands a decoded (and pre-processed) picture to every encoded video output of the stream.
void FeedVideoOutputs(TCustomFFmpeg& session, TranscodeTables& tables, InputStream& ist,
                      int istIndex, AVFrame* picture);

// Passes a picture (nullptr at the end of the stream) through the stream's filter graph and
// feeds every picture the graph gives back to the outputs.
void FilterVideoFrame(TCustomFFmpeg& session, TranscodeTables& tables, InputStream& ist,
                      int istIndex, AVFrame* picture);

// Guarding against runaway outputs. After the set-up: where each input file's timestamps are
// expected and when the output is expected to end.
void PrepareRunawayGuard(TCustomFFmpeg& session, TranscodeTables& tables);
// For each packet, after the file's offset: moves a stream whose timestamps start far outside
// its file onto the file's start, and drops a presentation time far from the decoding time.
void RebaseStrayTimestamps(TCustomFFmpeg& session, TranscodeTables& tables, AVPacket* pkt,
                           InputStream& ist);
// For each packet, after the stray timestamps: takes a jump beyond the discontinuity threshold,
// or a step back behind the stream's last packet, out of the file's timeline.
void AbsorbDiscontinuity(TCustomFFmpeg& session, const TranscodeTables& tables, AVPacket* pkt,
                         InputStream& ist, int file);
// How long a packet of the stream lasts (microseconds): its own duration, else one audio frame
// or one picture at the stream's rate.
int64_t PacketDuration(const InputStream& ist, const AVPacket* pkt);
// The number of times a picture may be written: never past the expected end of the output.
int64_t CapPictureRepeats(const TCustomFFmpeg& session, const OutputStream& ost, int64_t repeat);
// End the run with a failure when an output time (of any stream, or the one given in
// seconds) passed the runaway limit.
void StopRunawayOutput(const TranscodeTables& tables);
void StopIfRunaway(const TranscodeTables& tables, double seconds);
// How much an output stream holds by count: pictures coded over the picture rate, samples
// coded over the sample rate (0 for copied streams).
double WrittenTime(const OutputStream& ost);
// A run ends as runaway once its output passes twice the expected end plus this much.
constexpr int64_t RunawayMarginUs = 10 * 1000000LL;

// For each packet as it is read, before any offset: notes how far its stream and file have
// been read, and ends the run when the input stopped moving (a packet repeated again and
// again, or many packets that lie no farther in the file).
void NoteInputRead(TCustomFFmpeg& session, TranscodeTables& tables, int file, const AVPacket* pkt,
                   InputStream& ist);
// Where a file ends on the engine's timeline: its known end, or as far as it was read
// (AV_NOPTS_VALUE when nothing measures it).
int64_t FileEndSoFar(const TCustomFFmpeg& session, const TranscodeTables& tables, int file);
// With an input of unknown length: the expected end and runaway limit from what was read.
void UpdateReadingBound(const TCustomFFmpeg& session, TranscodeTables& tables);
// "The source keeps repeating itself at HH:MM:SS: it is damaged".
std::string RepeatingSourceText(int64_t atUs);

// The failure text of a library call that writes to an output (a packet, the trailer).
std::string WriteErrorText(int error, const std::string& call);

// The output stream's current time in seconds, as the loop compares streams.
double OutputTime(const OutputStream& ost);

// Text formatting with printf conventions, for the engine's fixed messages.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

constexpr int64_t NoPts = AV_NOPTS_VALUE;
constexpr AVRational MicrosecondBase{1, 1000000};

// A timestamp in the given time base as microseconds.
int64_t ToMicroseconds(int64_t ts, AVRational base);

} // namespace mobivert::engine
