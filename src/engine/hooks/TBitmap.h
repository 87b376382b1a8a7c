#pragma once
// The picture the custom frame hook draws on: 24-bit RGB in the byte order of packed BGR24
// (blue, green, red), row 0 on top, each row padded to a multiple of four bytes. Its canvas
// carries a lock that the engine holds while the application's hook runs, so that drawing code
// on another thread can wait for it.

#include <cstdint>
#include <mutex>
#include <vector>

namespace mobivert::engine {

enum TBrushStyle { bsSolid, bsClear };

class TBitmap;

class TCanvas {
public:
    explicit TCanvas(TBitmap& bitmap) : bitmap_(bitmap) {}
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    void Lock() { mutex_.lock(); }
    void Unlock() { mutex_.unlock(); }
    bool TryLock() { return mutex_.try_lock(); }

    // Fills the rectangle [left, right) x [top, bottom), clipped to the bitmap, with the colour.
    void FillRect(int left, int top, int right, int bottom, uint8_t red, uint8_t green,
                  uint8_t blue);

    // The brush of the hook's bitmap is transparent: nothing is painted unless the application
    // chooses a colour itself.
    TBrushStyle BrushStyle = bsClear;

private:
    TBitmap& bitmap_;
    std::recursive_mutex mutex_;
};

class TBitmap {
public:
    TBitmap(int width, int height) : canvas_(*this) { SetSize(width, height); }
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // Changes the size; the picture's content is undefined afterwards.
    void SetSize(int width, int height);
    int Width() const { return width_; }
    int Height() const { return height_; }
    int PixelFormat() const { return 24; } // bits per pixel
    int RowBytes() const { return rowBytes_; }
    // Row y, y = 0 being the top row; nullptr outside the picture.
    uint8_t* ScanLine(int y);
    const uint8_t* ScanLine(int y) const;
    TCanvas& Canvas() { return canvas_; }

private:
    int width_ = 0;
    int height_ = 0;
    int rowBytes_ = 0;
    std::vector<uint8_t> pixels_;
    TCanvas canvas_;
};

} // namespace mobivert::engine
