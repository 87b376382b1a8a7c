#pragma once
// What an opening found in a sound-only input, as one line of text: its container, span and
// bit rate, and for every stream what the decoder and the output are set up from. Two openings
// of a file that give the same view describe it the same way, so an opening after the first
// may probe with a small budget and keep its result only when it finds the same view.

#include <cstdint>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace mobivert::engine {

// The probing budget of an opening that checks its result against a known view: enough for the
// sound formats tried to come out the same (a 5.1 FLAC frame takes more than 8 KB), and little
// for the probing of a WAV file's samples for another codec hidden in them, which repeats over
// the whole budget.
inline constexpr int64_t REOPEN_PROBE_SIZE = 16384;

// The view of an opened input; empty for inputs with any stream that is not sound (pictures
// and subtitles are described by the probing well beyond the header, so they are always
// probed in full).
std::string InputView(const AVFormatContext* ic);

} // namespace mobivert::engine
