#include "engine/session/CodecThreads.h"

#include <algorithm>
#include <sched.h>
#include <thread>

namespace mobivert::engine {

int32_t UsableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    return std::max(1u, std::thread::hardware_concurrency());
}

int32_t CodecThreadCount(const AVCodec* codec, int32_t requested, int32_t concurrentRuns) {
    constexpr int ThreadCapabilities =
        AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_SLICE_THREADS | AV_CODEC_CAP_OTHER_THREADS;
    if (!codec || !(codec->capabilities & ThreadCapabilities))
        return 1;
    if (requested > 0)
        return std::min(requested, MaxCodecThreads);
    return std::clamp(UsableCores() / std::max(1, concurrentRuns), 1, MaxCodecThreads);
}

} // namespace mobivert::engine
