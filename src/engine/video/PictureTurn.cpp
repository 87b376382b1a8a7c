// Reading a stream's display matrix as a quarter turn (and a mirror), and the filters that undo
// it.

#include "engine/video/PictureTurn.h"

#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace mobivert::engine {

PictureTurn StreamTurn(const AVStream* st) {
    PictureTurn turn;
    size_t size = 0;
    const uint8_t* data = av::av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!data || size < 9 * sizeof(int32_t))
        return turn;
    const auto* matrix = reinterpret_cast<const int32_t*>(data);
    // A negative determinant is a mirrored picture; the angle is then read from the matrix
    // with its first column negated, as if the mirror were undone first.
    int32_t plain[9];
    std::copy(matrix, matrix + 9, plain);
    const double determinant =
        static_cast<double>(matrix[0]) * matrix[4] - static_cast<double>(matrix[1]) * matrix[3];
    turn.Mirror = determinant < 0;
    if (turn.Mirror) {
        plain[0] = -plain[0];
        plain[3] = -plain[3];
    }
    // The library gives the angle counter-clockwise; the picture is turned clockwise by it.
    const double angle = -av::av_display_rotation_get(plain);
    if (!std::isfinite(angle))
        return PictureTurn{};
    const long quarters = std::lround(angle / 90.0);
    turn.Degrees = static_cast<int>(((quarters % 4) + 4) % 4) * 90;
    return turn;
}

bool TurnsSideways(const PictureTurn& turn) {
    return turn.Degrees == 90 || turn.Degrees == 270;
}

std::string TurnFilters(const PictureTurn& turn) {
    std::string filters = turn.Mirror ? "hflip" : "";
    const char* step = turn.Degrees == 90    ? "transpose=clock"
                       : turn.Degrees == 180 ? "hflip,vflip"
                       : turn.Degrees == 270 ? "transpose=cclock"
                                             : "";
    if (*step)
        filters += (filters.empty() ? "" : ",") + std::string(step);
    return filters;
}

std::string TurnText(const PictureTurn& turn) {
    return std::to_string(turn.Degrees) + " degrees" + (turn.Mirror ? ", mirrored" : "");
}

bool ChainTurnsPicture(const std::string& description) {
    std::string lower = description;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* name : {"transpose", "rotate", "hflip", "vflip"})
        if (lower.find(name) != std::string::npos)
            return true;
    return false;
}

} // namespace mobivert::engine
