#include "engine/hooks/TBitmap.h"

#include <algorithm>

namespace mobivert::engine {

void TBitmap::SetSize(int width, int height) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    rowBytes_ = (width_ * 3 + 3) & ~3;
    pixels_.assign(static_cast<size_t>(rowBytes_) * static_cast<size_t>(height_), 0);
}

uint8_t* TBitmap::ScanLine(int y) {
    if (y < 0 || y >= height_)
        return nullptr;
    return pixels_.data() + static_cast<size_t>(y) * static_cast<size_t>(rowBytes_);
}

const uint8_t* TBitmap::ScanLine(int y) const {
    return const_cast<TBitmap*>(this)->ScanLine(y);
}

void TCanvas::FillRect(int left, int top, int right, int bottom, uint8_t red, uint8_t green,
                       uint8_t blue) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, bitmap_.Width());
    bottom = std::min(bottom, bitmap_.Height());
    for (int y = top; y < bottom; ++y) {
        uint8_t* pixel = bitmap_.ScanLine(y) + static_cast<size_t>(left) * 3;
        for (int x = left; x < right; ++x, pixel += 3) {
            pixel[0] = blue;
            pixel[1] = green;
            pixel[2] = red;
        }
    }
}

} // namespace mobivert::engine
