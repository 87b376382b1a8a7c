#pragma once
// The option values of a session with their defaults. The option handlers and the component's
// setters write them before a run; the openings and the run read them, and the openings consume
// the per-stream ones. ResetOptions gives every one of them its default again.

#include "engine/session/OnDemandTable.h"
#include "engine/session/SessionLimits.h"
#include "engine/video/PictureTurn.h"

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace mobivert::engine {

struct Rational {
    int32_t num = 0;
    int32_t den = 0;
};

struct TSessionOptions {
    // ---- Formats, maps and time-stamp scales
    TOnDemandTable<std::array<double, MAX_STREAMS>, MAX_FILES> InputTsScales;
    // The entries of StreamMaps and MetaDataMaps the "map" and "map_meta_data" options filled.
    int32_t StreamMapCount = 0;
    int32_t MetaDataMapCount = 0;
    const AVInputFormat* ForcedInputFormat = nullptr;
    const AVOutputFormat* ForcedOutputFormat = nullptr;

    // ---- Video options
    int32_t FrameWidth = 0;
    int32_t FrameHeight = 0;
    float FrameAspectRatio = 0.0f;
    int32_t FramePixFmt = -1;
    int32_t AudioSampleFmt = -1;
    int32_t FramePadTop = 0;
    int32_t FramePadBottom = 0;
    int32_t FramePadLeft = 0;
    int32_t FramePadRight = 0;
    std::array<int32_t, 3> PadColor{16, 128, 128};
    int32_t FrameTopBand = 0;
    int32_t FrameBottomBand = 0;
    int32_t FrameLeftBand = 0;
    int32_t FrameRightBand = 0;
    // Video, audio, data and subtitle frames to code at most.
    std::array<int32_t, 4> MaxFrames{
        std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(),
        std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max()};
    Rational FrameRate{};
    float VideoQScale = 0.0f;
    std::vector<uint16_t> IntraMatrix; // 64 entries when set
    std::vector<uint16_t> InterMatrix; // 64 entries when set
    // Set, even when empty, once the option was given.
    std::optional<std::string> VideoRcOverride;
    int32_t VideoDisable = 0;
    int32_t VideoDiscard = 0;
    std::string VideoCodecName;
    int32_t VideoCodecTag = 0;
    int32_t SameQuality = 0;
    int32_t DoDeinterlace = 0;
    // Pictures of a stream with a display matrix are turned upright when re-encoded, unless
    // "noautorotate" is given or the user's own filters turn them.
    int32_t AutoRotate = 1;
    // The turn and the coded size of the video stream the derived picture values were taken
    // from.
    PictureTurn SourceTurn;
    int32_t SourceWidth = 0;
    int32_t SourceHeight = 0;
    // Whether the aspect ratio and pixel format are still the source's (no option set them).
    bool FrameAspectFromSource = false;
    bool FramePixFmtFromSource = false;
    int32_t TopFieldFirst = -1;
    int32_t MeThreshold = 0;
    int32_t IntraDcPrecision = 8;
    int32_t LoopInput = 0;
    int32_t LoopOutput = -1;
    int32_t QpHist = 0;
    std::string VideoFilters;
    bool FiltersEnabled = false;
    // Names of the filters that feed decoded pictures into a filter graph and take them out.
    std::string InputFilterName = "ffmpeg_input";
    std::string OutputFilterName = "ffmpeg_output";

    // Whether the output's picture size, sample rate and channel count were derived (from the
    // source, a preset or a target) rather than asked for by an option ("s", "ar", "ac"): an
    // encoder that does not take a derived value gets the nearest one it takes; an asked-for
    // value it does not take refuses the output.
    bool FrameSizeDerived = true;
    bool AudioSampleRateDerived = true;
    bool AudioChannelsDerived = true;
    bool AudioBitRateDerived = true; // "ab": a derived one below the encoder's least is raised

    // ---- Audio and subtitle options
    int32_t IntraOnly = 0;
    int32_t AudioSampleRate = 44100;
    float AudioQScale = -99999.0f; // not set
    int32_t AudioDisable = 0;
    int32_t AudioChannels = 2;
    std::string AudioCodecName;
    int32_t AudioCodecTag = 0;
    std::string AudioLanguage;
    int32_t SubtitleDisable = 0;
    std::string SubtitleCodecName;
    std::string SubtitleLanguage;

    // ---- Container and timing options
    float MuxPreload = 0.5f;
    float MuxMaxDelay = 0.7f;
    int64_t RecordingTime = std::numeric_limits<int64_t>::max();
    // How long the output plays in milliseconds: the recording time when one was set, else
    // the longest input's length as the openings find it; -1 while unknown.
    int32_t TotalOutputDuration = -1;
    int64_t StartTime = 0;
    int64_t RecTimestamp = 0;
    int64_t InputTsOffset = 0;
    std::string MetaTitle;
    std::string MetaAuthor;
    std::string MetaCopyright;
    std::string MetaComment;
    std::string MetaGenre;
    std::string MetaAlbum;
    int32_t MetaYear = 0;
    int32_t MetaTrack = 0;
    int32_t DoHexDump = 0;
    int32_t DoPktDump = 0;
    int32_t DoPsnr = 0;
    int32_t DoPass = 0;
    std::string PassLogFileName;
    // "hwenc=auto": an H.264 or HEVC video may be coded by a hardware encoder of its codec
    // (HardwareEncoder.h); the software encoder codes it whenever that cannot be set up.
    bool HardwareEncoding = false;
    int32_t AudioStreamCopy = 0;
    int32_t VideoStreamCopy = 0;
    int32_t SubtitleStreamCopy = 0;
    int32_t VideoSyncMethod = -1;
    int32_t AudioSyncMethod = 0;
    float AudioDriftThreshold = 0.1f;
    bool CopyTs = false;
    int32_t Shortest = 0;
    int32_t VideoGlobalHeader = 0;
    std::string VStatsFileName;
    int32_t ProgramId = 0;
    int32_t RateEmu = 0;
    int32_t VideoChannel = 0;
    std::string VideoStandard;
    int32_t AudioVolume = 256;
    bool ExitOnError = false;
    bool UsingVhook = false;
    int32_t Verbose = 1;
    // Codec threads asked for by "threads"; 0 chooses them from the cores (CodecThreads.h).
    int32_t ThreadCount = 0;
    int32_t InputSync = 0;
    uint64_t LimitFileSize = 0;
    // Set when a format name "pgmyuv" was given.
    int32_t PgmyuvCompat = 0;
    float DtsDeltaThreshold = 10.0f;
    // Flags of every scaler context; the run takes them from "sws_flags" when it was given.
    int32_t SwsFlags = SWS_BICUBIC;
    // Pending bitstream filter chains (FFmpeg chain syntax), taken by the next new stream.
    std::string VideoBitstreamFilters;
    std::string AudioBitstreamFilters;
    std::string SubtitleBitstreamFilters;
};

} // namespace mobivert::engine
