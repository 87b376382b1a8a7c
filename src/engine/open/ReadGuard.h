#pragma once
// Bounds on reading an input. The library's blocking calls (opening, probing, reading a packet)
// poll an interrupt callback between reads; this guard answers it. A call gives up when its
// owner asks to stop, when a deadline has passed, or when one step has read more bytes than
// its budget: a demuxer or parser that searches a huge damaged file for a frame would otherwise
// run for minutes and hold everything it read in memory.

#include <atomic>
#include <cstdint>
#include <string>

struct AVFormatContext;
struct AVIOInterruptCB;

namespace mobivert::engine {

// Opening and probing read at most this much and take at most this long.
inline constexpr int64_t OPEN_READ_BUDGET = 32LL << 20;
inline constexpr int64_t OPEN_TIME_LIMIT_US = 30LL * 1000000;
// The probe sizes handed to the library: bytes looked at to find the format and the streams,
// and media time analysed to find the streams' parameters.
inline constexpr int64_t PROBE_SIZE = 5000000;
inline constexpr int64_t ANALYZE_DURATION_US = 5LL * 1000000;
// One packet read during a conversion never needs more than this much of the file.
inline constexpr int64_t PACKET_READ_BUDGET = 256LL << 20;

class TReadGuard {
public:
    enum class Cause { None, Stop, Deadline, Budget };

    // The flag that asks to stop (may be null); watched for as long as the guard lives.
    void WatchStop(const std::atomic<bool>* stop) { stop_ = stop; }
    // Installs the callback on the context; the guard must outlive the context's reads.
    void Install(AVFormatContext* context);
    // Starts a step: reads from here on may take at most budget bytes (0: no limit) and end at
    // the latest timeLimitUs from now (0: no limit).
    void Begin(int64_t budget, int64_t timeLimitUs);
    // No more limits (stop is still watched).
    void End() { Begin(0, 0); }

    // Why the last interrupted call was interrupted, or None.
    Cause LastCause() const { return cause_; }
    // A plain text for the last interruption, empty when there was none.
    std::string Reason() const;

    static int Callback(void* guard);

private:
    int64_t BytesRead() const;

    const std::atomic<bool>* stop_ = nullptr;
    AVFormatContext* context_ = nullptr;
    int64_t start_ = 0;
    int64_t budget_ = 0;
    int64_t deadline_ = 0;
    Cause cause_ = Cause::None;
};

} // namespace mobivert::engine
