#pragma once
// Which audio track of a source a converted output gets when nothing maps one: the track the
// source marks as its default, else the one the library judges best (av_find_best_stream), as
// players choose. Several outputs of one session take the tracks in turn.

#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace mobivert::engine {

// The index of the audio stream of ic to take among those with free[index] set (free has one
// entry per stream), or -1 when none is free.
int PreferredAudioStream(const AVFormatContext* ic, const std::vector<bool>& free);

} // namespace mobivert::engine
