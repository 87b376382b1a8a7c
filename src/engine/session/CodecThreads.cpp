#include "engine/session/CodecThreads.h"

#include "binding/AVCodecHlpr.h"

#include <algorithm>
#include <sched.h>
#include <thread>

namespace mobivert::engine {

namespace {

// Pictures an encoder that works ahead on threads of its own (libx264) keeps in flight beyond
// one per core: its threads wait on each other's reference pictures, and a core would idle.
constexpr int32_t EncoderFramesAhead = 2;

// Frame threads a core for a decoder of small pictures beside an encoder's own thread.
constexpr int32_t DecoderFramesPerCore = 4;
constexpr int64_t SmallPictureArea = 1280 * 720;

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

int32_t CoresOfOneRun(int32_t concurrentRuns) {
    return std::max(1, UsableCores() / std::max(1, concurrentRuns));
}

int32_t AutomaticThreadCount(const AVCodec* codec, int32_t share) {
    // A conversion with one core to itself gets no threads that would compete with the
    // conversions on the other cores.
    if (share <= 1)
        return 1;
    if (!av::av_codec_is_encoder(codec))
        return share;
    if (WorksAhead(codec))
        return share + EncoderFramesAhead;
    // A slice-threaded encoder codes on a thread of its own (see EncodesOnItsOwnThread) beside
    // the decoder's threads: half the cores go to its slices.
    return std::max(1, share / 2);
}

int32_t CodecThreadCount(const AVCodec* codec, int32_t requested, int32_t concurrentRuns) {
    constexpr int ThreadCapabilities =
        AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_SLICE_THREADS | AV_CODEC_CAP_OTHER_THREADS;
    if (!codec || !(codec->capabilities & ThreadCapabilities))
        return 1;
    if (requested > 0)
        return std::min(requested, MaxCodecThreads);
    return std::min(AutomaticThreadCount(codec, CoresOfOneRun(concurrentRuns)), MaxCodecThreads);
}

int32_t DecoderThreadCountBesideEncoderThread(const AVCodec* codec, int32_t requested,
                                              int32_t concurrentRuns, int64_t pictureArea) {
    const int32_t count = CodecThreadCount(codec, requested, concurrentRuns);
    if (requested > 0 || count <= 1 || !(codec->capabilities & AV_CODEC_CAP_FRAME_THREADS) ||
        pictureArea > SmallPictureArea)
        return count;
    return std::min(count * DecoderFramesPerCore, MaxCodecThreads);
}

bool EncodesOnItsOwnThread(const AVCodec* codec, int32_t requested, int32_t concurrentRuns) {
    return codec && requested <= 0 && codec->type == AVMEDIA_TYPE_VIDEO && !WorksAhead(codec) &&
           CoresOfOneRun(concurrentRuns) > 1 && av::av_codec_is_encoder(codec);
}

} // namespace mobivert::engine
