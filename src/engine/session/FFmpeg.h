#pragma once
// One conversion session: the option values, the opened inputs and outputs, the state of the
// run in progress and of its frame hooks, the worker thread and the session's events.

#include "engine/hooks/HookTypes.h"
#include "engine/hooks/TBitmap.h"
#include "engine/open/ReadGuard.h"
#include "engine/session/OnDemandTable.h"
#include "engine/session/RunState.h"
#include "engine/session/SessionLimits.h"
#include "engine/session/SessionOptions.h"
#include "engine/session/SessionThreads.h"
#include "engine/session/ThreadPriority.h"
#include "engine/transcode/TranscodeRecords.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace mobivert::engine {

class TCustomFFmpeg;
class TFFmpegThread;
struct TranscodeTables;
struct FrameHookEntry;

using TEngineLogEvent =
    std::function<void(TCustomFFmpeg& engine, int level, const std::string& text)>;
using TEngineProgressEvent = std::function<void(
    TCustomFFmpeg& engine, int32_t frameNumber, int32_t fps, int32_t currentDurationMs,
    float quality, float bitRate, int64_t currentSize, int32_t totalDurationMs)>;
using TEngineTerminateEvent = std::function<void(TCustomFFmpeg& engine)>;
using TEngineBeforeHookEvent =
    std::function<void(TCustomFFmpeg& engine, THookAction& action, int64_t pts)>;
using TEngineCustomHookEvent =
    std::function<void(TCustomFFmpeg& engine, TBitmap* bitmap, int32_t frameNumber, int64_t pts,
                       bool& update, bool& stop)>;

// The library's verbosity is process-wide; every session shares this copy of it.
int GlobalVerbose();
void SetGlobalVerbose(int level);

// The session's state is sectioned by who writes it: the option values (TSessionOptions, the
// generic option state and the owner's run settings), the open files, the run state (TRunState
// and the run's tables and work buffers) and the hook state (THookSelection and the hooks' own
// buffers). ResetOptions gives the option values, the run state and the hook selection their
// defaults again; the open files are FreeSession's.
class TCustomFFmpeg : public TSessionOptions, public TRunState, public THookSelection {
public:
    TCustomFFmpeg();
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    void ResetOptions();
    void InitSession();
    void FreeSession();
    // The option holders (codec, container and scaler contexts) that options are applied to;
    // InitSession makes them, FreeSession frees them.
    void CreateOptionHolders();

    // Starts a run. As thread: returns the worker, created but held until the caller calls its
    // Resume; synchronously: runs on the caller's thread and returns nullptr. A session that is
    // running or already terminated returns nullptr and does nothing.
    TFFmpegThread* StartConvert(bool asThread, TThreadPriority priority);
    void RunTranscode();
    void StopConvert();
    void PauseConvert();
    void ResumeConvert();
    void DoTerminate();

    // The safe point of a run: blocks while the run is paused and not asked to stop.
    void PausePoint();
    bool Paused() const { return PauseRequested.load(); }

    // Raises OnLog when it is set.
    void Log(int level, const std::string& text);

    // ==== Option text, option table and handlers (OptionTable.cpp, OptionHandlers*.cpp,
    // GenericOptions.cpp, TargetPresets.cpp). Refusals are raised as FFMpegException.
    void ApplyOptionText(const std::string& text);
    void SetOption(const std::string& name, const std::string& value);
    bool SetGenericOption(const std::string& name, const std::string& value);
    // Why the option would be refused by a session (an unknown name, a value that does not
    // parse), or an empty text when it is taken. Tries it on this session, so it is meant for a
    // scratch session made for the check.
    std::string OptionRefusal(const std::string& name, const std::string& value);
    // True when FFmpeg's option system knows the name in one of the session's option holders.
    bool GenericOptionKnown(const std::string& name) const;
    bool SetGenericOptionInt(const std::string& name, int64_t value);
    // Copies every generic option set so far from an option holder into a real context
    // (codec or container), for the options whose flags contain every bit of flags.
    void SetContextOptions(void* target, void* source, int flags);
    // Looks a codec up by name; false with SetupError set when it is unknown or of another type.
    bool FindCodec(const std::string& name, AVMediaType type, bool encoder, AVCodecID& codecId);

    // Setters the component calls with values of its option records. String setters do nothing
    // for an empty text; the numeric ones ignore values outside their guard (see each).
    void SetInputFormat(const std::string& name);  // "pgmyuv" as for "f"
    void SetOutputFormat(const std::string& name); // "pgmyuv" as for "f"
    void SetRecordingTimeMs(int64_t ms);           // ms <= 0: nothing
    void SetStartTimeUs(int64_t us);               // us <= 0: nothing
    void SetProgramId(int32_t id);                 // negative: nothing
    void SetAudioVolume(int32_t volume);           // negative: nothing
    void SetAudioSyncMethod(int32_t method);
    void SetVideoSyncMethod(int32_t method);
    void SetMuxMaxDelay(float seconds); // <= 0: nothing
    void SetMuxPreload(float seconds);  // <= 0: nothing
    void SetMetaYear(int32_t year);     // <= 0: nothing
    void SetMetaTrack(int32_t track);   // <= 0: nothing
    void SetMetaTitle(const std::string& text);
    void SetMetaAuthor(const std::string& text);
    void SetMetaCopyright(const std::string& text);
    void SetMetaComment(const std::string& text);
    void SetMetaGenre(const std::string& text);
    void SetMetaAlbum(const std::string& text);
    void SetVideoFilters(const std::string& text);

    // Handlers of the options with rules of their own, one per option name.
    void SetFormat(const std::string& name);                                    // "f"
    void AddStreamMap(const std::string& text);                                 // "map"
    void AddMetaDataMap(const std::string& text);                               // "map_meta_data"
    void SetInputTsScale(const std::string& text);                              // "itsscale"
    void SetVerbose(int32_t level);                                             // "v"
    void SetBitRate(const std::string& name, const std::string& value);         // "b", "vb", "ab"
    void SetFrameRate(const std::string& text);                                 // "r"
    void SetFrameSize(const std::string& text);                                 // "s"
    void SetFrameCropTop(int32_t size);                                         // "croptop"
    void SetFrameCropBottom(int32_t size);                                      // "cropbottom"
    void SetFrameCropLeft(int32_t size);                                        // "cropleft"
    void SetFrameCropRight(int32_t size);                                       // "cropright"
    void SetFramePadTop(int32_t size);                                          // "padtop"
    void SetFramePadBottom(int32_t size);                                       // "padbottom"
    void SetFramePadLeft(int32_t size);                                         // "padleft"
    void SetFramePadRight(int32_t size);                                        // "padright"
    void SetPadColor(int32_t rgb);                                              // "padcolor"
    void SetFrameAspectRatio(const std::string& text);                          // "aspect"
    void SetPixelFormat(const std::string& name);                               // "pix_fmt"
    void SetSampleFormat(const std::string& name);                              // "sample_fmt"
    void SetVideoCodec(const std::string& name);                                // "vcodec"
    void SetAudioCodec(const std::string& name);                                // "acodec"
    void SetSubtitleCodec(const std::string& name);                             // "scodec"
    void SetHardwareEncoding(const std::string& choice);                        // "hwenc"
    void SetVStats();                                                           // "vstats"
    void SetVStatsFile(const std::string& name);                                // "vstats_file"
    void SetIntraMatrix(const std::string& text);                               // "intra_matrix"
    void SetInterMatrix(const std::string& text);                               // "inter_matrix"
    void SetVideoTag(const std::string& tag);                                   // "vtag"
    void SetAudioTag(const std::string& tag);                                   // "atag"
    void SetAudioSampleRate(int32_t rate);                                      // "ar"
    void SetAudioChannels(int32_t channels);                                    // "ac"
    void AddBitstreamFilter(const std::string& name, const std::string& value); // "absf" ...
    void SetTargetOption(const std::string& text);                              // "target"
    // Conforms the next output to a disc or camcorder format; norm "pal", "ntsc", "film" or
    // anything else for detection, fallback "film", "ntsc" or anything else for PAL.
    void SetTarget(const std::string& target, const std::string& norm,
                   const std::string& fallbackNorm);
    // ==== end of the option section

    // ==== Input and output opening (InputOpening.cpp, OutputCreation.cpp, OpenErrorText.cpp).
    // Set-up failures return false with SetupError set.
    bool OpenInputFile(const std::string& fileName);
    bool OpenOutputFile(const std::string& fileName);

    // Add one stream to the container of output file fileIndex from the current option state and
    // consume that type's per-stream options; failures are raised as FFMpegException.
    void NewVideoStream(AVFormatContext* oc, int fileIndex);
    void NewAudioStream(AVFormatContext* oc, int fileIndex);
    void NewSubtitleStream(AVFormatContext* oc, int fileIndex);
    // The source's cover picture, carried as a picture attached to the output (never as video).
    void NewCoverStream(AVFormatContext* oc, int fileIndex);
    // Handlers of "newvideo", "newaudio" and "newsubtitle": a further stream on the latest output.
    void AddNewVideoStream();
    void AddNewAudioStream();
    void AddNewSubtitleStream();
    // Which media types the opened inputs hold; a stream of a type outside FFmpeg's range raises
    // "invalid codec_type of input file".
    void CheckInputMediaTypes(bool& hasVideo, bool& hasAudio, bool& hasSubtitle);
    // True when a filter description holds a filter that changes the picture size.
    static bool ChainResizesPicture(const std::string& description);
    // ==== end of the opening section

    // ==== Transcode: set-up, loop, packet decoding and writing, encoder output, progress
    // (TranscodeSetup.cpp, TranscodeLoop.cpp, PacketDecoding.cpp, PacketWriter.cpp,
    // EncoderOutput.cpp, ProgressReport.cpp).
    // Writes one encoded or copied packet through the stream's bitstream filters, interleaved.
    void WritePacket(AVFormatContext* os, AVPacket* pkt, AVCodecContext* enc, AVBSFContext* bsf);
    // Sends one frame (or nullptr to drain) to the stream's encoder and writes every packet it
    // gives back; returns the bytes written.
    int EncodeFrame(AVFormatContext* os, OutputStream& ost, AVFrame* frame);
    int EncodeThroughPipe(AVFormatContext* os, OutputStream& ost, AVFrame* frame);
    // Writes one packet an encoder gave back (with its two-pass statistics text); returns its
    // size.
    int WriteCodedPacket(AVFormatContext* os, OutputStream& ost, AVPacket* pkt,
                         const char* passStats);
    void PrintReport(bool isLastReport);
    // ==== end of the transcode section

    // ==== Audio output path (AudioOutput.cpp, AudioSync.cpp, AudioFormatChoice.cpp)
    void OutputAudioBuffer(AVFormatContext* os, OutputStream& ost, InputStream& ist,
                           const uint8_t* buffer, int size);
    // Encodes what is left in the stream's FIFO as a last, smaller frame where the encoder
    // takes one; returns the bytes written.
    int FlushAudioFifo(AVFormatContext* os, OutputStream& ost);
    // Feeds silence until the stream's samples reach `seconds` of output time.
    void PadAudioTo(AVFormatContext* os, OutputStream& ost, double seconds);
    // Before the encoder is opened: a sample rate or channel layout that the encoder does not
    // take is replaced by the nearest one it does, and the choice is logged.
    void ChooseAudioEncoderFormat(OutputStream& ost);
    // ==== end of the audio section

    // ==== Video output path and filter chain (VideoOutput.cpp, VideoPreprocess.cpp,
    // VideoStats.cpp, SubtitleOutput.cpp, FilterChain.cpp)
    void PreprocessVideoFrame(InputStream& ist, AVFrame* picture);
    void OutputVideoFrame(AVFormatContext* os, OutputStream& ost, InputStream& ist,
                          AVFrame* picture, int& frameSize);
    void WriteVideoStats(AVFormatContext* os, OutputStream& ost, int frameSize);
    void OutputSubtitle(AVFormatContext* os, OutputStream& ost, InputStream& ist,
                        AVSubtitle* subtitle, int64_t pts);
    // Builds the filter graph between a decoded input video stream and an encoder; false with
    // SetupError set when it cannot be built.
    bool BuildFilterGraph(InputStream& ist, OutputStream& ost);
    // ==== end of the video section

    // ==== Frame hooks (FrameHooks.cpp, FrameHookLibrary.cpp, CustomHook.cpp, HookTimeRanges.cpp)
    // Copies the ranges (microseconds), sorted ascending by their end; the range search starts
    // again at the first.
    void SetHookTimeRanges(const std::vector<HookTimeRange>& ranges);
    // Handler of "vhook": the library path and its arguments, separated by "|" when the text
    // holds one, else by blanks. A plug-in that cannot be added raises
    // "Failed to add video hook function: " + text.
    void AddVideoHook(const std::string& text);
    // Per picture: counts it and decides (before-hook event or time ranges) whether the
    // plug-ins run on it.
    void SelectHookAction(int64_t pts);
    // True when a hook will work on this picture, which then needs a working copy.
    bool HookWillRun() const;
    // Runs the custom hook or the plug-ins on the working picture.
    void RunFrameHooks(uint8_t* data[4], int linesize[4], int pixelFormat, int width, int height,
                       int64_t pts);
    // The custom hook on the working picture (CustomHook.cpp).
    void RunCustomHook(uint8_t* data[4], int linesize[4], int pixelFormat, int width, int height,
                       int64_t pts);
    // Releases the plug-ins and frees the hook buffers, bitmap and conversion contexts.
    void ReleaseFrameHookState();
    // ==== end of the frame-hook section

    // ==== Option state beyond the option values (TSessionOptions). The generic fallback
    // (GenericOptions.cpp) writes the option holders and the names set through them; InitSession
    // makes the holders, FreeSession frees them and forgets the names.
    std::array<AVCodecContext*, MEDIA_TYPE_COUNT> CodecOptContexts{};
    AVFormatContext* FormatOptContext = nullptr;
    SwsContext* ScalerOptContext = nullptr;
    std::vector<std::string> CodecOptNames;
    int32_t OptNameCount = 0;
    // The last name the generic fallback could not set (unknown, or a value it refused).
    std::string RefusedGenericOption;
    // Generic options that FFmpeg keeps as private options of one muxer or encoder family, by
    // name with their latest value; SetContextOptions hands them to every context that knows them.
    std::vector<std::pair<std::string, std::string>> PrivateOptionValues;
    // Run settings of the owner, which sets them before the run starts; options and
    // ResetOptions leave them alone.
    // Conversions the owner runs at the same time as this one; automatic codec threads share
    // the cores among them.
    int32_t ConcurrentRuns = 1;
    // A run coded in several passes shows one progress over all of them: the pass being coded
    // (0 on) of how many, set for each pass.
    int32_t ProgressPass = 0;
    int32_t ProgressPassCount = 1;
    // Microseconds between two progress reports.
    int64_t ProgressInterval = 500000;

    // ==== Open files. The openings (OpenInputFile, OpenOutputFile and stream creation) write
    // them; FreeSession closes the files and frees the tables, which are allocated while the
    // session uses them (TOnDemandTable). ResetOptions only forgets the counts.
    std::array<AVFormatContext*, MAX_FILES> InputFiles{};
    std::array<int64_t, MAX_FILES> InputTsOffsets{};
    int32_t InputFileCount = 0;
    std::array<AVFormatContext*, MAX_FILES> OutputFiles{};
    int32_t OutputFileCount = 0;
    // The maps the "map" and "map_meta_data" options fill (StreamMapCount, MetaDataMapCount).
    TOnDemandTable<StreamMap, MAX_STREAM_MAPS> StreamMaps;
    std::array<MetaDataMap, MAX_META_DATA_MAPS> MetaDataMaps{};
    // The decoder context of every stream of every opened input, and the encoder context of
    // every stream of every output, owned by the session and freed in FreeSession.
    TOnDemandTable<std::vector<AVCodecContext*>, MAX_FILES> InputDecoders;
    TOnDemandTable<std::vector<AVCodecContext*>, MAX_FILES> OutputEncoders;
    // Set by stream creation for every output stream that is copied rather than encoded
    // ([output file][stream]); the transcode reads it.
    TOnDemandTable<std::array<bool, MAX_STREAMS>, MAX_FILES> OutputStreamCopy;
    // Rate emulation ("re") asked for when each input was opened; the transcode reads it.
    std::array<int32_t, MAX_FILES> InputRateEmu{};
    // When set, the next OpenInputFile reads the input through this byte stream instead of
    // opening the named file (the name then only labels it); the caller keeps it alive and
    // frees it after the session. Consumed by the opening.
    AVIOContext* InputIO = nullptr;
    // The input an opening last probed in full and what it found there (see InputView): the
    // next opening of that file probes with a small budget and keeps the result only when it
    // finds the same. Set by the openings, or by the caller from a probe of its own.
    std::string KnownInputFile;
    std::string KnownInputView;
    // When 0 or more, OpenOutputFile writes the output through a copy of this descriptor,
    // from the start of its file, instead of opening the named file (the name then only labels
    // the output and chooses its container); the caller keeps the descriptor and the file.
    int OutputDescriptor = -1;
    // The bounds on reading each opened input (see TReadGuard).
    TOnDemandTable<TReadGuard, MAX_FILES> InputReadGuards;
    // Media packets the run wrote to each output file, counted from its header on; -1 while no
    // run has written the header. An output whose run wrote none is removed with the session.
    std::array<int64_t, MAX_FILES> OutputPacketCounts = [] {
        std::array<int64_t, MAX_FILES> counts;
        counts.fill(-1);
        return counts;
    }();
    // By output file, the chains of the streams that have one (a waiting session keeps no
    // table of empty texts).
    TOnDemandTable<std::map<int32_t, std::string>, MAX_FILES> BitstreamFilters;
    // Why the last set-up step (an opening, a codec look-up, the filter graph) failed.
    std::string SetupError;

    // ==== Run state beyond the counts and outcome (TRunState). StartConvert and the run write
    // it, on the worker's thread when the run has one; the owner reads the flags from any thread.
    // The tables of the run in progress, and the packed 16-bit samples of the last decoded
    // audio frame.
    std::unique_ptr<TranscodeTables> Tables;
    std::vector<uint8_t> DecodeBuffer;
    // Encoded subtitles, 65536 bytes once the first subtitle is written.
    std::vector<uint8_t> SubtitleOutBuffer;
    // The codecs the run opened, closed by it or, after a failure, by RunTranscode.
    std::list<OutputStream*> OpenEncoders;
    std::list<InputStream*> OpenDecoders;
    // The per-frame video statistics file, opened by the run's first statistics line.
    FILE* VStatsFile = nullptr;
    int64_t TimerStart = 0;
    std::atomic<TFFmpegThread*> WorkerThread{nullptr};
    std::atomic<bool> Running{false};
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> Finished{false};
    std::atomic<bool> Terminated{false};

    // ==== Hook state beyond the picture selection (THookSelection). "vhook" and the run's
    // pre-processing write it; ReleaseFrameHookState frees it.
    // The working picture of the pre-processing: a reference-counted buffer that pictures
    // downstream may still hold, so it is replaced rather than overwritten while shared; its
    // size in bytes only grows.
    struct BufferRelease {
        void operator()(AVBufferRef* buffer) const;
    };
    std::unique_ptr<AVBufferRef, BufferRelease> HookBuffer;
    struct BufferFree {
        void operator()(void* buffer) const;
    };
    int32_t HookBufferSize = 0;
    FrameHookEntry* FirstHook = nullptr;
    // The words given to the plug-ins, which may keep pointers into them until released.
    std::vector<std::unique_ptr<char, BufferFree>> HookArguments;
    std::unique_ptr<TBitmap> HookBitmap;
    // The custom hook's bitmap holds packed 24-bit BGR pictures.
    static constexpr AVPixelFormat HookRgbFormat = AV_PIX_FMT_BGR24;
    std::unique_ptr<uint8_t, BufferFree> HookRgbBuffer;
    int32_t HookRgbBufferSize = 0;
    SwsContext* ToRgbContext = nullptr;
    SwsContext* FromRgbContext = nullptr;

    // ==== Events, set by the owner before the run and raised on the thread that runs it.
    TEngineBeforeHookEvent OnBeforeHook;
    TEngineCustomHookEvent OnCustomHook;
    TEngineLogEvent OnLog;
    TEngineProgressEvent OnProgress;
    TEngineTerminateEvent OnTerminate;

protected:
    // Whether the session has an input and an output to run. A session that opens its files
    // only when its run starts answers for the files it will open.
    virtual bool HasInput() const { return InputFileCount > 0; }
    virtual bool HasOutput() const { return OutputFileCount > 0; }

    // Asks a running worker to stop and waits until no thread of the session touches it any
    // more; a derived class calls it first thing in its destructor. Safe to call twice.
    void ShutDown();

    // Set-up and loop of one run; failures are raised as FFMpegException.
    virtual void Transcode();

private:
    friend class TFFmpegThread;
    friend class TDoTerminateThread;

    void FailBeforeStart(const std::string& message);
    void CloseOpenCodecs();
    void FreeOptionHolders();
    void FreeOutputFiles();
    void FreeInputFiles();
    void FreeOptionValues();

    std::atomic<bool> PauseRequested{false};
    std::mutex PauseMutex;
    std::condition_variable PauseChanged;
    SessionThreadsPtr Threads = std::make_shared<SessionThreads>();
};

} // namespace mobivert::engine
