#pragma once
// Audio read back sample by sample, through the libraries and independently through GStreamer,
// and small PCM test inputs with chosen packet sizes and timestamps.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mobivert::test {

// The first audio stream of a file, decoded to interleaved signed 16-bit samples at the
// stream's own rate and channel count.
struct DecodedAudio {
    bool Opened = false;
    std::string Codec;
    int Channels = 0;
    int SampleRate = 0;
    int DecodeErrors = 0;
    std::vector<int16_t> Samples;

    int64_t Frames() const {
        return Channels ? static_cast<int64_t>(Samples.size()) / Channels : 0;
    }
    double Seconds() const { return SampleRate ? static_cast<double>(Frames()) / SampleRate : 0; }
    int16_t At(int64_t frame, int channel) const { return Samples[frame * Channels + channel]; }
    // Largest magnitude of one channel.
    int Peak(int channel) const;
    // Root mean square of one channel over [from, to) sample frames.
    double Rms(int channel, int64_t from = 0, int64_t to = -1) const;
    // Tone frequency of one channel from its upward zero crossings over [from, to).
    double Frequency(int channel, int64_t from = 0, int64_t to = -1) const;
    // Index of the first frame whose magnitude on any channel exceeds the level, or -1.
    int64_t FirstAbove(int level) const;
};

// The libraries must be loaded.
DecodedAudio DecodeAudio(const std::string& path);

// What GStreamer decodes of a file's audio: its own demuxers and decoders, raw S16LE samples.
struct GstAudio {
    bool Decoded = false; // the pipeline ran to the end without an error
    int Channels = 0;
    int SampleRate = 0;
    int64_t Frames = 0;
    std::string Output; // discoverer and pipeline messages, for failure reports
    double Seconds() const { return SampleRate ? static_cast<double>(Frames) / SampleRate : 0; }
};
GstAudio GstDecodeAudio(const std::string& path, const std::string& scratchDir);

// Writes a Matroska file with one PCM s16le stream whose packets hold samplesPerPacket samples
// per channel (the last one fewer); sample(frame, channel) gives each sample. Empty on success,
// otherwise what failed.
std::string WritePcmMatroska(const std::string& path, int rate, int channels, int64_t totalFrames,
                             int samplesPerPacket,
                             const std::function<int16_t(int64_t, int)>& sample);

// A sine of the given frequency and amplitude (full scale 1.0).
int16_t Sine(int64_t frame, int rate, double frequency, double amplitude);

} // namespace mobivert::test
