#pragma once
// The pixel format a video encoder is given when no option names one: what the devices the
// output is made for decode. Phones, televisions and browsers play 8-bit 4:2:0 pictures; an
// encoder that codes deeper or fuller formats (H.264 High 10, 4:2:2, 4:4:4) is kept to 4:2:0
// 8-bit whatever the source holds.

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace mobivert::engine {

// The encoder's 8-bit 4:2:0 format nearest to the source's; when it lists none, the source's own
// format if listed, else the encoder's first.
AVPixelFormat DevicePixelFormat(const AVCodec* codec, AVPixelFormat source);

} // namespace mobivert::engine
