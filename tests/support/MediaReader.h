#pragma once
// Reads a media file back through the libraries, packet by packet, to check what a conversion
// wrote: the streams, their codecs and formats, packet counts and durations.

#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace mobivert::test {

struct StreamSummary {
    AVMediaType Type = AVMEDIA_TYPE_UNKNOWN;
    std::string Codec;
    int Width = 0;
    int Height = 0;
    int Channels = 0;
    int SampleRate = 0;
    int Packets = 0;
    int KeyPackets = 0;
    bool FirstPacketIsKey = false;
    double FirstTime = 0; // seconds, of the first packet with a timestamp
    double EndTime = 0;   // seconds, end of the last packet
    double Duration() const { return EndTime - FirstTime; }
};

struct MediaSummary {
    bool Opened = false;
    std::string FormatName;
    std::vector<StreamSummary> Streams;
    // Points into Streams: only callable on a summary that outlives the pointer.
    const StreamSummary* First(AVMediaType type) const&;
    const StreamSummary* First(AVMediaType type) const&& = delete;
};

// The libraries must be loaded.
MediaSummary ReadMedia(const std::string& path);
// The first stream of a type in a file, or an empty summary (Type unknown) when it has none.
StreamSummary ReadFirstStream(const std::string& path, AVMediaType type);

// What GStreamer's discoverer says of a file (independent of the engine's libraries): its
// whole output, empty when it could not run.
std::string Discover(const std::string& path);

} // namespace mobivert::test
