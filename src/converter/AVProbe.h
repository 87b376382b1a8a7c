#pragma once
// The media probe: reads a file's container and stream information without converting anything.
// The converter keeps one for checking files the user adds; every conversion task keeps one
// attached to its opened input so the window can ask about that task's source.

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace mobivert::engine {
class TReadGuard;
}

namespace mobivert::converter {

// The container of an opened file as the probe reports it.
struct ContainerInfo {
    std::string Name;     // the demuxer's short name
    std::string LongName; // its descriptive name; empty when it has none
    int64_t DurationUs;   // microseconds; -1 when unknown
    int64_t BitRate;      // bits per second; 0 when unknown
};

// A source's audio stream as the probe reports it. Before it is filled, the texts are zeroed and
// every number is -1.
struct AudioStreamInfo {
    char Language[4];
    char CodecName[32];
    int64_t StartTime;       // stream time-base units; AV_NOPTS_VALUE when the demuxer gives none
    int64_t StartTimeScaled; // microseconds; -1 when StartTime is unknown
    int64_t Duration;        // stream time-base units; AV_NOPTS_VALUE when the demuxer gives none
    int64_t DurationScaled;  // microseconds; -1 when Duration is unknown
    int32_t BitRate;
    int32_t Channels;
    int32_t SampleRate;
    int32_t SampleFormat;
};

// A source's video stream as the probe reports it; preset as for AudioStreamInfo, which leaves
// DisplayAspect with all bits set (a NaN).
struct VideoStreamInfo {
    char Language[4];
    char CodecName[32];
    int64_t StartTime;
    int64_t StartTimeScaled;
    int64_t Duration;
    int64_t DurationScaled;
    int32_t BitRate;
    int32_t Height;
    int32_t Width;
    float DisplayAspect; // width x sample aspect ratio / height
    int32_t PixelFormat;
    int32_t FrameRateNum;
    int32_t FrameRateDen;
    int32_t Rotation; // degrees clockwise the pictures are turned to be shown upright: 0 to 270
    int32_t Mirrored; // 1 when shown mirrored left to right
    // The stream's average frame rate (pictures over its length); -1 when the demuxer gives none.
    int32_t AverageRateNum;
    int32_t AverageRateDen;
};

// Raised by Open and Attach when one of the libraries the probe needs is not bound.
class EProbeLibraryError : public std::runtime_error {
public:
    explicit EProbeLibraryError(const std::string& message) : std::runtime_error(message) {}
};

class TAVProbe {
public:
    TAVProbe();
    ~TAVProbe();
    TAVProbe(const TAVProbe&) = delete;
    TAVProbe& operator=(const TAVProbe&) = delete;

    // Loads the codec, format, util and scale libraries; nothing when they are already bound.
    // On failure LastError() holds the loader's text and the four are unloaded again.
    bool LoadLibs(const std::string& directory, bool versioned);
    // Opens a file, with an optional forced format name; false with LastError() set. Opening
    // and probing are bounded in time and bytes read, and end early when the flag given to
    // WatchStop is set.
    bool Open(const std::string& fileName, const std::string& formatName = std::string());
    // Takes over a context opened elsewhere without owning it.
    void Attach(AVFormatContext* context);
    // Forgets the context, closing it when the probe opened it.
    void Close();
    // A flag that, once set, makes a running Open give up (null: none).
    void WatchStop(const std::atomic<bool>* stop);
    // Forgets an attached context that is about to be closed, but keeps answering from what it
    // held: the counts, the file name and every stream's information.
    void Release();

    // Index -1 means the first stream of that kind. Problems are logged and give the preset
    // record.
    AudioStreamInfo AudioInfo(int index = -1) const;
    VideoStreamInfo VideoInfo(int index = -1) const;
    // The opened file's container (empty names and unknown figures when none is open).
    ContainerInfo Container() const;
    // A stream of the opened file by its index: its kind (AVMEDIA_TYPE_UNKNOWN when there is no
    // such stream), the kind's name ("other" when it has none) and its codec's name.
    AVMediaType StreamType(int index) const;
    std::string StreamTypeName(int index) const;
    std::string StreamCodecName(int index) const;

    std::string FileName() const;
    const std::string& LastError() const { return lastError_; }
    const std::string& FormatName() const { return formatName_; }
    AVFormatContext* FormatContext() const { return context_; }
    bool OwnsContext() const { return ownsContext_; }
    int StreamCount() const { return streamCount_; }
    int ProgramCount() const { return programCount_; }
    int AudioStreamCount() const { return audioStreamCount_; }
    int VideoStreamCount() const { return videoStreamCount_; }
    // Video streams that are moving pictures, not a picture attached to the file (cover art).
    int MovingVideoStreamCount() const { return movingVideoStreamCount_; }
    int SubtitleStreamCount() const { return subtitleStreamCount_; }
    int FirstAudioStreamIndex() const { return firstAudioStreamIndex_; }
    // The first moving-picture stream, or the first video stream when all are attached pictures.
    int FirstVideoStreamIndex() const { return firstVideoStreamIndex_; }
    int FirstSubtitleStreamIndex() const { return firstSubtitleStreamIndex_; }

private:
    void CheckLibraries() const;
    void Count();
    void ClearCounts();
    // The index of the stream for an info call, or -1 after logging why there is none.
    int PickStream(int index, AVMediaType type) const;
    const AVStream* StreamAt(int index) const;
    AudioStreamInfo ReadAudioInfo(const AVStream* st) const;
    VideoStreamInfo ReadVideoInfo(const AVStream* st) const;

    // What Release kept, one entry per stream.
    struct StreamSummary {
        AVMediaType Type;
        AudioStreamInfo Audio;
        VideoStreamInfo Video;
    };
    bool released_ = false;
    std::string releasedFileName_;
    std::vector<StreamSummary> releasedStreams_;

    AVFormatContext* context_ = nullptr;
    bool ownsContext_ = false;
    std::string lastError_;
    std::string formatName_;
    int streamCount_ = -1;
    int programCount_ = -1;
    int audioStreamCount_ = -1;
    int videoStreamCount_ = -1;
    int movingVideoStreamCount_ = -1;
    int subtitleStreamCount_ = -1;
    int firstAudioStreamIndex_ = -1;
    int firstVideoStreamIndex_ = -1;
    int firstSubtitleStreamIndex_ = -1;
    std::unique_ptr<engine::TReadGuard> guard_;
};

} // namespace mobivert::converter
