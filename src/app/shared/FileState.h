#pragma once
// Where a file of a batch stands: the journal's states (waiting, done, done with warnings,
// failed, canceled, refused) and, between waiting and its end, running.

namespace mobivert::app {

enum class TFileState { Pending, Running, Done, Warnings, Failed, Canceled, Refused };

// Whether the state says how the file's conversion ended.
constexpr bool HasEnded(TFileState state) {
    return state != TFileState::Pending && state != TFileState::Running;
}

// Whether the file was converted (its output is complete).
constexpr bool WasConverted(TFileState state) {
    return state == TFileState::Done || state == TFileState::Warnings;
}

} // namespace mobivert::app
