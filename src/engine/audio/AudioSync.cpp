// The timing step of the audio path. Method 0 lets the sync position follow the input's
// timestamps and never touches a sample. Other methods compare the input time with the samples
// already given to the encoder: outside the dead zone, a drift at the start of a stream or above
// the threshold is corrected at once by cutting the front of the buffer or padding it with
// silence; a smaller drift is left alone (method 1) or stretched away by the resampler, at most
// "async" samples per second (methods above 1).

#include "engine/audio/AudioSync.h"

#include <algorithm>
#include <cmath>

namespace mobivert::engine {

AudioSyncDecision DecideAudioSync(const AudioSyncState& state) {
    AudioSyncDecision decision;
    decision.SyncOpts = state.SyncOpts;
    const double rate = state.EncoderRate;
    if (state.Method == 0) {
        // nearbyint rounds halves to even in the default rounding mode.
        decision.SyncOpts =
            static_cast<int64_t>(std::nearbyint(state.InputTime * rate)) - state.QueuedSamples;
        return decision;
    }
    const double drift = state.InputTime * rate - static_cast<double>(state.SyncOpts) -
                         static_cast<double>(state.QueuedSamples);
    decision.Drift = drift;
    if (std::fabs(drift) <= AudioDriftDeadZone)
        return decision;

    if (state.IsStart || std::fabs(drift) > state.DriftThreshold * rate) {
        // The same drift in input samples, as bytes of whole packed sample frames.
        const double inputSamples = drift * state.DecoderRate / rate;
        int64_t bytes = static_cast<int64_t>(std::trunc(inputSamples)) * state.SampleBytes *
                        state.DecoderChannels;
        if (bytes < 0) {
            bytes = std::max(bytes, -state.Size);
            decision.Bytes = -bytes;
            if (state.Size + bytes == 0) {
                decision.Action = AudioSyncAction::DropAll;
            } else {
                decision.Action = AudioSyncAction::Discard;
                decision.ClearStart = true;
            }
        } else {
            decision.Action = AudioSyncAction::InsertSilence;
            decision.Bytes = bytes;
            decision.ClearStart = true;
        }
        return decision;
    }

    if (state.Method > 1) {
        decision.Action = AudioSyncAction::Stretch;
        const int64_t whole = static_cast<int64_t>(std::trunc(drift));
        decision.Compensation = static_cast<int32_t>(
            std::clamp<int64_t>(whole, -int64_t{state.Method}, int64_t{state.Method}));
    }
    return decision;
}

} // namespace mobivert::engine
