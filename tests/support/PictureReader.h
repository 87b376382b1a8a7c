#pragma once
// Reads the pictures of a video file back: decoded through the libraries into 8-bit 4:2:0
// planes for pixel checks, and decoded whole by GStreamer, which shares no code with the
// engine.

#include <cstdint>
#include <string>
#include <vector>

namespace mobivert::test {

struct Picture {
    int Width = 0;
    int Height = 0;
    double Time = 0;              // seconds
    std::vector<uint8_t> Y, U, V; // rows of Width (Y) and (Width + 1) / 2 (U, V) bytes

    int LumaAt(int x, int y) const { return Y[static_cast<size_t>(y) * Width + x]; }
    int UAt(int x, int y) const {
        return U[static_cast<size_t>(y / 2) * ((Width + 1) / 2) + x / 2];
    }
    int VAt(int x, int y) const {
        return V[static_cast<size_t>(y / 2) * ((Width + 1) / 2) + x / 2];
    }
};

struct DecodedVideo {
    bool Opened = false;
    std::string Codec;
    int Width = 0;
    int Height = 0;
    int DecodeErrors = 0;
    int DecodedCount = 0; // every picture decoded, also those beyond maxPictures
    std::vector<Picture> Pictures;
};

// Decodes the first video stream and keeps the first maxPictures pictures. The libraries must
// be loaded.
DecodedVideo DecodeVideo(const std::string& path, int maxPictures = 1000);

// True when GStreamer decodes the whole file without an error.
bool PlaysInGStreamer(const std::string& path);

} // namespace mobivert::test
