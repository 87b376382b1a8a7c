// Crop bands, pad borders and the pad colour of the next output picture. Every size must be
// even, because the chroma planes of the usual 4:2:0 pictures have half the resolution.

#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

namespace mobivert::engine {

namespace {

const char* kVerticalRange = "Vertical crop dimensions are outside the range of the original "
                             "image.\nRemember to crop first and scale second.";
const char* kHorizontalRange = "Horizontal crop dimensions are outside the range of the original "
                               "image.\nRemember to crop first and scale second.";

// Takes a crop band off one dimension of the frame size.
void Crop(int32_t size, const char* side, int32_t& band, int32_t& dimension,
          const char* rangeMessage) {
    if (size < 0)
        return;
    if (size % 2 != 0)
        throw FFMpegException(std::string(side) + " crop size must be a multiple of 2");
    if (size >= dimension)
        throw FFMpegException(rangeMessage);
    band = size;
    dimension -= size;
}

void Pad(int32_t size, const char* side, int32_t& pad) {
    if (size < 0)
        return;
    if (size % 2 != 0)
        throw FFMpegException(std::string(side) + " pad size must be a multiple of 2");
    pad = size;
}

// Integer division rounded towards minus infinity.
int32_t FloorDiv(int32_t numerator, int32_t denominator) {
    int32_t quotient = numerator / denominator;
    if ((numerator % denominator != 0) && ((numerator < 0) != (denominator < 0)))
        --quotient;
    return quotient;
}

} // namespace

void TCustomFFmpeg::SetFrameCropTop(int32_t size) {
    Crop(size, "Top", FrameTopBand, FrameHeight, kVerticalRange);
}
void TCustomFFmpeg::SetFrameCropBottom(int32_t size) {
    Crop(size, "Bottom", FrameBottomBand, FrameHeight, kVerticalRange);
}
void TCustomFFmpeg::SetFrameCropLeft(int32_t size) {
    Crop(size, "Left", FrameLeftBand, FrameWidth, kHorizontalRange);
}
void TCustomFFmpeg::SetFrameCropRight(int32_t size) {
    Crop(size, "Right", FrameRightBand, FrameWidth, kHorizontalRange);
}

void TCustomFFmpeg::SetFramePadTop(int32_t size) {
    Pad(size, "Top", FramePadTop);
}
void TCustomFFmpeg::SetFramePadBottom(int32_t size) {
    Pad(size, "Bottom", FramePadBottom);
}
void TCustomFFmpeg::SetFramePadLeft(int32_t size) {
    Pad(size, "Left", FramePadLeft);
}
void TCustomFFmpeg::SetFramePadRight(int32_t size) {
    Pad(size, "Right", FramePadRight);
}

void TCustomFFmpeg::SetPadColor(int32_t rgb) {
    // Red in the lowest byte, then green, then blue; converted to Y, U, V with the BT.601
    // coefficients scaled by 1024.
    uint32_t bits = static_cast<uint32_t>(rgb);
    int32_t r = bits & 0xFF;
    int32_t g = (bits >> 8) & 0xFF;
    int32_t b = (bits >> 16) & 0xFF;
    PadColor[0] = FloorDiv(307 * r + 602 * g + 117 * b + 512, 1024);
    PadColor[1] = FloorDiv(-173 * r - 340 * g + 512 * b + 511, 1024) + 128;
    PadColor[2] = FloorDiv(512 * r - 429 * g - 84 * b + 511, 1024) + 128;
}

} // namespace mobivert::engine
