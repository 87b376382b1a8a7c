#pragma once
// The records the transcode builds for one run: per input file, per input stream, per output
// stream, and the explicit stream and meta-data maps.

#include "engine/transcode/EncoderPipe.h"
#include "engine/transcode/GroupedDecoding.h"
#include "engine/video/PictureTurn.h"
#include "engine/video/WovenFieldCheck.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace mobivert::engine {

struct InputFile {
    int32_t EofReached = 0;
    int32_t IstIndex = 0;
    int32_t NbStreams = 0;
    int64_t SizeAtStart = -1; // bytes, when the input's size is known
    // Where the file's timestamps are expected on the engine's timeline (microseconds): from
    // its first timestamp to the end of its known length; both AV_NOPTS_VALUE when the length
    // is not known well enough to judge a stream by it.
    int64_t WindowStart = AV_NOPTS_VALUE;
    int64_t WindowEnd = AV_NOPTS_VALUE;
    // How far the file has really been read: the largest advance of its streams' own
    // timestamps (microseconds; steps back and jumps beyond the discontinuity threshold do not
    // count), whether it had any timestamps, and the bytes up to its farthest packet. They
    // bound the output when the file's length is not known.
    int64_t Advance = 0;
    bool TimestampsRead = false;
    int64_t BytesRead = 0;
};

struct InputStream {
    int32_t FileIndex = 0;
    int32_t Index = 0;
    AVStream* St = nullptr;
    AVCodecContext* Dec = nullptr; // the session's decoder context of this stream (not owned here)
    int32_t Discard = 0;
    int32_t DecodingNeeded = 0;
    int64_t Start = 0;
    uint32_t Frame = 0;
    int64_t NextPts = 0;
    int64_t Pts = 0;
    int32_t IsStart = 0;
    AVFilterContext* OutVideoFilter = nullptr;
    AVFilterContext* InputVideoFilter = nullptr;
    AVFrame* FilterFrame = nullptr;
    int32_t HasFilterFrame = 0;
    AVFrame* PicRef = nullptr;
    // Decoding with FFmpeg's send/receive interface: the frame being received, the converter
    // that turns decoded audio into packed samples at the decoder's rate and channel count, and
    // the quality of the last decoded picture. The packed samples are signed 16-bit, or 32-bit
    // when the decoder gives deeper integers and an encoder takes them (lossless outputs).
    AVFrame* DecodedFrame = nullptr;
    // Video decoded in whole groups of pictures by decoders of their own; Dec then decodes
    // nothing and takes over what they learn of the stream.
    std::unique_ptr<GroupedDecoding> Groups;
    AVSampleFormat PackedSampleFormat = AV_SAMPLE_FMT_S16;
    SwrContext* PackedConverter = nullptr;
    int32_t PackedFormat = -1;
    int32_t PackedRate = 0;
    int32_t PackedChannels = 0;
    AVFilterGraph* FilterGraph = nullptr;
    float Quality = 0.0f;
    // Rate emulation: the stream's first timestamp, against which reading is paced.
    int64_t RateEmuOrigin = INT64_MIN;
    // Added to every timestamp of the stream (microseconds) when its timestamps start far
    // away from the rest of its file; TimestampSeen once its first timestamp was judged.
    int64_t Rebase = 0;
    bool TimestampSeen = false;
    // The last decoding time read (the stream's time base), to tell a demuxer's guess from one
    // the file carries.
    int64_t LastDts = AV_NOPTS_VALUE;
    // The stream's packets as the check for timestamp jumps follows them: the decoding time of
    // the last packet whose time the file carries, and where the next packet is due
    // (microseconds, on the engine's timeline).
    int64_t PacketTime = AV_NOPTS_VALUE;
    int64_t NextPacketTime = AV_NOPTS_VALUE;
    // What reading the stream brought so far: its last timestamp as read (microseconds), how
    // far its timestamps advanced, the farthest byte position of its packets with the run of
    // packets that lay no farther, and the run of packets equal to the one before (same
    // presentation time and size).
    int64_t LastReadTime = AV_NOPTS_VALUE;
    int64_t Advance = 0;
    int64_t FarthestPos = -1;
    int32_t PacketsInPlace = 0;
    int64_t LastPacketPts = AV_NOPTS_VALUE;
    int32_t LastPacketSize = -1;
    int32_t PacketRepeats = 0;
    // ==== Video path: how decoded pictures are shaped before anything else sees them (turned
    // upright, deinterlaced), the shaping graph with its two ends, the picture it gives back,
    // the filters and the picture geometry (width, height, pixel format) it was built for.
    PictureTurn Turn;
    // The pictures handed on so far, and the first of them while it is the only one: a video
    // of one picture holds it until the file's other streams end.
    int32_t PicturesGiven = 0;
    AVFrame* LonePicture = nullptr;
    bool DeinterlaceWhenInterlaced = false;
    bool MapTones = false;   // HDR pictures mapped to SDR
    std::string ShapeLogged; // the filters last logged
    WovenFieldCheck FieldCheck;
    AVFilterGraph* ShapeGraph = nullptr;
    AVFilterContext* ShapeSource = nullptr;
    AVFilterContext* ShapeSink = nullptr;
    AVFrame* ShapedFrame = nullptr;
    std::string ShapeFilters;
    int32_t ShapeWidth = 0;
    int32_t ShapeHeight = 0;
    int32_t ShapeFormat = -1;
    // ==== end of the video path fields
};

struct OutputStream {
    int32_t FileIndex = 0;
    int32_t Index = 0;
    int32_t SourceIndex = 0;
    AVStream* St = nullptr;
    AVCodecContext* Enc = nullptr; // the session's encoder context of this stream (not owned here)
    int32_t EncodingNeeded = 0;
    int32_t FrameNumber = 0;
    InputStream* SyncIst = nullptr;
    int64_t SyncOpts = 0;
    int32_t VideoResample = 0;
    AVFrame* PictTmp = nullptr;
    SwsContext* ImgResampleCtx = nullptr;
    int32_t ResampleHeight = 0;
    int32_t VideoCrop = 0;
    int32_t TopBand = 0;
    int32_t LeftBand = 0;
    int32_t VideoPad = 0;
    int32_t PadTop = 0;
    int32_t PadBottom = 0;
    int32_t PadLeft = 0;
    int32_t PadRight = 0;
    int32_t AudioResample = 0;
    SwrContext* Resample = nullptr;
    int32_t ReformatPair = 0;
    // The packed format the stream's input arrives in (its source's PackedSampleFormat).
    AVSampleFormat PackedInput = AV_SAMPLE_FMT_S16;
    AVFifo* Fifo = nullptr;
    FILE* LogFile = nullptr;
    std::string LastPassStats; // the statistics text last written to LogFile
    // The stream's bitstream filter chain (none when the chain is empty), the frame handed to
    // the encoder, and what the encoder reported about the last packet it coded.
    AVBSFContext* BitstreamFilter = nullptr;
    // Timestamp just past the last packet written, in the stream's time base.
    int64_t CurrentPts = 0;
    AVFrame* EncoderFrame = nullptr;
    int32_t LastQuality = 0;
    int32_t LastPictType = 0;
    // Pictures the encoder gave back so far, and the time (seconds) of the last one.
    int32_t CodedPictures = 0;
    double LastCodedTime = 0.0;
    // The encoder's own thread, when it codes apart from the conversion's thread.
    std::unique_ptr<EncoderPipe> Pipe;
    // A hardware encoder's pool of pictures (owned here), the software format pictures are
    // made in before they are uploaded into it (-1: the encoder takes them as they are), and
    // the picture uploaded last.
    AVBufferRef* HardwareFrames = nullptr;
    int32_t SoftwarePictureFormat = -1;
    AVFrame* HardwarePicture = nullptr;
    std::array<uint64_t, 3> LastError{};
    std::array<uint64_t, 3> TotalError{};
    // ==== Audio output path: samples in the encoder's format waiting for a whole encoder frame,
    // the converter's output (one plane per channel for planar formats), the zeroed source of
    // inserted silence, the input the converter was made for, the sample capacity of
    // EncoderFrame, and the earliest timestamp the next encoder frame may carry.
    AVAudioFifo* SampleFifo = nullptr;
    std::vector<uint8_t> ConvertBuffer;
    std::vector<uint8_t*> ConvertPlanes;
    int32_t ConvertCapacity = 0;
    std::vector<uint8_t> SilenceBuffer;
    int32_t ResampleInRate = 0;
    int32_t ResampleInChannels = 0;
    int32_t EncoderFrameCapacity = 0;
    int64_t NextFramePts = AV_NOPTS_VALUE;
    // Samples per channel handed to the encoder so far, and of those the ones that came from
    // the source (not the silence that pads its last frame).
    int64_t SamplesWritten = 0;
    int64_t SourceSamples = 0;
    // ==== end of the audio output path fields
};

// The format the video path makes the stream's pictures in.
inline AVPixelFormat PictureFormat(const OutputStream& ost) {
    return ost.SoftwarePictureFormat >= 0 ? static_cast<AVPixelFormat>(ost.SoftwarePictureFormat)
                                          : ost.Enc->pix_fmt;
}

struct StreamMap {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SyncFileIndex = 0;
    int32_t SyncStreamIndex = 0;
};

struct MetaDataMap {
    int32_t OutFile = 0;
    int32_t InFile = 0;
};

} // namespace mobivert::engine
