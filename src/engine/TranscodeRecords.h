#pragma once
// The records the transcode builds for one run: per input file, per input stream, per output
// stream, and the explicit stream and meta-data maps.

#include <cstdint>
#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace mobivert::engine {

struct InputFile {
    int32_t EofReached = 0;
    int32_t IstIndex = 0;
    int32_t NbStreams = 0;
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
    AVFifo* Fifo = nullptr;
    FILE* LogFile = nullptr;
};

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
