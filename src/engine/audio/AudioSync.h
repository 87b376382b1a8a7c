#pragma once
// The timing step of the audio path: how far the samples handed to an encoder have drifted
// from the input's timestamps, and what one call does about it.

#include <cstdint>

namespace mobivert::engine {

// Drifts of this many output samples or fewer are never corrected.
constexpr int AudioDriftDeadZone = 50;

// What the timing step knows when one buffer of packed samples arrives.
struct AudioSyncState {
    int32_t Method = 0;          // "async": 0 follow the timestamps, 1 pad/cut, >1 also stretch
    double DriftThreshold = 0.1; // seconds of drift above which the input is padded or cut
    double InputTime = 0.0;      // seconds: the sync stream's position minus the start time
    int64_t SyncOpts = 0;        // output samples per channel given to the encoder or owed
    int64_t QueuedSamples = 0;   // output samples per channel waiting for a whole frame
    int32_t EncoderRate = 0;
    int32_t DecoderRate = 0;
    int32_t DecoderChannels = 0;
    int32_t SampleBytes = 2; // of one packed sample: 2, or 4 for deep sources
    bool IsStart = false;    // no correction has completed yet on this input stream
    int64_t Size = 0;        // bytes in the buffer, whole sample frames
};

enum class AudioSyncAction {
    None,
    Discard,       // cut Bytes from the front of the buffer
    DropAll,       // the whole buffer is cut: nothing to encode this time
    InsertSilence, // put Bytes of silence in front of the buffer
    Stretch,       // let the resampler add or drop Compensation samples per second
};

struct AudioSyncDecision {
    AudioSyncAction Action = AudioSyncAction::None;
    int64_t SyncOpts = 0;     // the sync position to keep (recomputed with method 0)
    double Drift = 0.0;       // output samples the output lacks; negative when it is ahead
    int64_t Bytes = 0;        // Discard, DropAll, InsertSilence: bytes of input-format samples
    int32_t Compensation = 0; // Stretch: samples, with the sign of the drift
    bool ClearStart = false;  // the start correction is complete
};

AudioSyncDecision DecideAudioSync(const AudioSyncState& state);

} // namespace mobivert::engine
