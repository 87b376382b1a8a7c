#pragma once
// Views into pictures and painted borders: the plane arithmetic behind cropping and padding.

#include <array>
#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace mobivert::engine {

// A picture's four plane pointers and four line sizes, as the libraries take them.
struct PicturePlanes {
    std::array<uint8_t*, 4> Data{};
    std::array<int, 4> Linesize{};
};

// Makes view describe the part of source that starts top rows down and left columns in (same
// memory, same line sizes). -1 when the format's planes cannot be addressed that way or an
// offset does not fall on a whole chroma sample.
int CropPicture(PicturePlanes& view, const PicturePlanes& source, AVPixelFormat format, int top,
                int left);

// Paints the borders of a width x height picture in color (Y, U, V) and, when source is given,
// copies it into the middle. -1 for a format whose components are not luma, chroma or alpha of
// at most 16 bits, or for borders that leave no middle.
int PadPicture(PicturePlanes& picture, const PicturePlanes* source, int height, int width,
               AVPixelFormat format, int padTop, int padBottom, int padLeft, int padRight,
               const std::array<int32_t, 3>& color);

} // namespace mobivert::engine
