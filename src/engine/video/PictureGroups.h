#pragma once
// Where a coded video stream can be cut into groups of pictures that decode on their own. An
// H.264 or H.265 picture that refreshes the decoder at once (IDR) lets no later picture refer to
// one before it, and every picture before it is shown before it: from there on a decoder that
// never saw the stream's start gives the same pictures as one that decoded it all.
//
// Only streams whose packets carry length-prefixed units with the parameter sets in the
// stream's header (avcC or hvcC, as MP4, MOV and Matroska store them) are cut: a decoder that
// starts at any such picture has what it needs to decode it.

#include <cstdint>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace mobivert::engine {

class GroupCuts {
public:
    // The cuts of the stream, or none when its codec or packet layout is not one cut here.
    static std::optional<GroupCuts> Of(const AVCodecParameters* par);

    // Whether the packet begins a new group: a key packet that holds a refresh picture.
    bool Begins(const AVPacket* packet) const;

private:
    GroupCuts(AVCodecID codec, int lengthSize) : codec_(codec), lengthSize_(lengthSize) {}
    bool IsRefreshUnit(uint8_t header) const;

    AVCodecID codec_;
    int lengthSize_; // bytes of each unit's length prefix: 1, 2 or 4
};

// The most pictures from one key picture to the next that the stream's index lists (from the
// key pictures' times and the stream's frame rate), or 0 when it lists fewer than two key
// pictures or no rate is known.
int64_t LongestIndexedGroup(const AVStream* st);

} // namespace mobivert::engine
