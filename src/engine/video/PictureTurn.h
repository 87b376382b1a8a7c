#pragma once
// How a source's pictures are turned upright. Phones record with the sensor's orientation and
// store how the picture is to be shown in the track header (a display matrix); a picture that is
// re-encoded is turned before anything else sees it, so that sizes, aspect and pads apply to
// the picture as it is shown.

#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace mobivert::engine {

struct PictureTurn {
    int Degrees = 0;     // clockwise: 0, 90, 180 or 270
    bool Mirror = false; // mirrored left to right before the turn
};

// The turn the stream's display matrix asks for; none when it has no matrix.
PictureTurn StreamTurn(const AVStream* st);
// True when the turn swaps the picture's width and height.
bool TurnsSideways(const PictureTurn& turn);
// The filters that make the turn ("transpose=clock", "hflip,vflip", ...); empty for none.
std::string TurnFilters(const PictureTurn& turn);
// "90 degrees", "180 degrees, mirrored": how the turn reads in the log and the probe.
std::string TurnText(const PictureTurn& turn);
// True when a filter chain description turns or mirrors the picture itself.
bool ChainTurnsPicture(const std::string& description);

} // namespace mobivert::engine
