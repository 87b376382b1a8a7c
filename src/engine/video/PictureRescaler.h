#pragma once
// Bringing whole pictures to an encoder's size and pixel format with the library's scaler, for
// a video encoder that codes on a thread of its own: the rescaling then runs on that thread too,
// beside the decoding, instead of on the conversion's thread.

#include <string>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

struct SwsContext;

namespace mobivert::engine {

class PictureRescaler {
public:
    // flags: the scaler's algorithm and options (SWS_BICUBIC and so on).
    explicit PictureRescaler(int flags) : flags_(flags) {}
    ~PictureRescaler();
    PictureRescaler(const PictureRescaler&) = delete;
    PictureRescaler& operator=(const PictureRescaler&) = delete;

    // A new picture of width x height in format (owned by the caller), rescaled from picture,
    // with the fields the encoder reads of the picture (time, quality, picture type, fields);
    // nullptr with failure set to the reason when it cannot be made.
    AVFrame* Rescale(const AVFrame* picture, int width, int height, AVPixelFormat format,
                     std::string& failure);

private:
    const int flags_;
    SwsContext* context_ = nullptr; // made again when the pictures' size or format changes
};

} // namespace mobivert::engine
