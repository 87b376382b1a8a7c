#include "engine/session/CodecThreads.h"

#include "binding/AVCodecHlpr.h"

#include <algorithm>
#include <sched.h>
#include <thread>

namespace mobivert::engine {

namespace {

// Frames a frame-threaded codec keeps in flight beyond one per core: the conversion's own
// thread decodes, converts and encodes one picture after another, so a codec that can work
// ahead keeps the cores busy while that thread is elsewhere.
constexpr int32_t FramesAhead = 2;

bool WorksAhead(const AVCodec* codec) {
    constexpr int Ahead = AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_OTHER_THREADS;
    return (codec->capabilities & Ahead) != 0;
}

} // namespace

int32_t UsableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    return std::max(1u, std::thread::hardware_concurrency());
}

int32_t AutomaticThreadCount(const AVCodec* codec, int32_t share) {
    // A conversion with one core to itself gets no threads that would compete with the
    // conversions on the other cores.
    if (share <= 1)
        return 1;
    if (WorksAhead(codec))
        return share + FramesAhead;
    // A slice-threaded encoder works on one picture at a time, after the conversion's thread
    // has it: half the cores encode, the rest decode the pictures that come next.
    if (av::av_codec_is_encoder(codec))
        return std::max(1, share / 2);
    return share;
}

int32_t CodecThreadCount(const AVCodec* codec, int32_t requested, int32_t concurrentRuns) {
    constexpr int ThreadCapabilities =
        AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_SLICE_THREADS | AV_CODEC_CAP_OTHER_THREADS;
    if (!codec || !(codec->capabilities & ThreadCapabilities))
        return 1;
    if (requested > 0)
        return std::min(requested, MaxCodecThreads);
    const int32_t share = std::max(1, UsableCores() / std::max(1, concurrentRuns));
    return std::min(AutomaticThreadCount(codec, share), MaxCodecThreads);
}

} // namespace mobivert::engine
