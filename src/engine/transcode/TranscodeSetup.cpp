// First half of a transcode run: tables, source choice, codec parameters, codec opening,
// meta-data and headers.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "engine/audio/AudioTrackChoice.h"
#include "engine/open/OpenErrorText.h"
#include "engine/open/SourceTags.h"
#include "engine/session/CodecLock.h"
#include "engine/session/CodecThreads.h"
#include "engine/session/EncoderLookahead.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/LibraryReason.h"
#include "engine/transcode/TranscodeSteps.h"
#include "engine/video/HardwareEncoder.h"
#include "engine/video/ToneMapping.h"

#include <cstdarg>
#include <cstring>
#include <unistd.h>

namespace mobivert::engine {

std::string Format(const char* format, ...) {
    char buffer[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

namespace {

// Pictures that may wait for an encoder coding on its own thread: enough for the conversion's
// thread to go on through a run of pictures that are slow to decode (measured: 8 converts a
// 720p clip a few percent faster than 3, for 5 pictures' worth of memory more).
constexpr size_t kPicturesForTheEncoder = 8;

// An encoder on its own thread rescales there the pictures that need only rescaling; a
// hardware encoder's pictures are rescaled into its upload format on the conversion's thread.
std::unique_ptr<PictureRescaler> PipeRescaler(const TCustomFFmpeg& s, const OutputStream& ost) {
    if (ost.HardwareFrames)
        return nullptr;
    return std::make_unique<PictureRescaler>(s.SwsFlags);
}

AVMediaType InputType(const InputStream& ist) {
    return ist.St->codecpar->codec_type;
}
AVMediaType OutputType(const OutputStream& ost) {
    return ost.Enc->codec_type;
}

void BuildInputTables(TCustomFFmpeg& s, TranscodeTables& t) {
    int streamIndex = 0;
    for (int i = 0; i < s.InputFileCount; ++i) {
        AVFormatContext* ic = s.InputFiles[i];
        InputFile file;
        file.IstIndex = streamIndex;
        file.NbStreams = static_cast<int32_t>(ic->nb_streams);
        if (ic->pb)
            file.SizeAtStart = av::avio_size(ic->pb);
        t.Files.push_back(file);
        for (unsigned k = 0; k < ic->nb_streams; ++k) {
            auto ist = std::make_unique<InputStream>();
            ist->St = ic->streams[k];
            ist->FileIndex = i;
            ist->Index = static_cast<int32_t>(k);
            ist->Discard = 1;
            ist->Dec = k < s.InputDecoders[i].size() ? s.InputDecoders[i][k] : nullptr;
            ist->Start = av::av_gettime();
            t.InputStreams.push_back(std::move(ist));
            ++streamIndex;
        }
    }
}

int CountOutputStreams(TCustomFFmpeg& s) {
    int total = 0;
    for (int k = 0; k < s.OutputFileCount; ++k) {
        if (s.OutputFiles[k]->nb_streams == 0)
            throw FFMpegException("Output file does not contain any stream");
        total += static_cast<int>(s.OutputFiles[k]->nb_streams);
    }
    return total;
}

void CheckStreamMaps(TCustomFFmpeg& s, const TranscodeTables& t, int outputStreamCount) {
    if (s.StreamMapCount > 0 && s.StreamMapCount != outputStreamCount)
        throw FFMpegException("Number of stream maps must match number of output streams");
    auto valid = [&](int file, int stream) {
        return file >= 0 && file < s.InputFileCount && stream >= 0 &&
               stream < t.Files[file].NbStreams;
    };
    for (int i = 0; i < s.StreamMapCount; ++i) {
        const StreamMap& map = s.StreamMaps[i];
        if (!valid(map.FileIndex, map.StreamIndex))
            throw FFMpegException(
                Format("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
        if (!valid(map.SyncFileIndex, map.SyncStreamIndex))
            throw FFMpegException(Format("Could not find sync stream #%d.%d", map.SyncFileIndex,
                                         map.SyncStreamIndex));
    }
}

int FindProgramSource(TCustomFFmpeg& s, TranscodeTables& t, AVMediaType type) {
    for (int j = 0; j < s.InputFileCount; ++j) {
        AVFormatContext* ic = s.InputFiles[j];
        for (unsigned p = 0; p < ic->nb_programs; ++p) {
            AVProgram* program = ic->programs[p];
            if (program->id != s.ProgramId)
                continue;
            for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
                int index = t.Files[j].IstIndex + static_cast<int>(program->stream_index[k]);
                InputStream& ist = *t.InputStreams[index];
                if (ist.Discard && InputType(ist) == type)
                    return index;
            }
        }
    }
    return -1;
}

// With several audio tracks, which one was taken and which were left.
void ReportAudioChoice(TCustomFFmpeg& s, const AVFormatContext* ic, int file, int chosen,
                       const std::vector<bool>& free) {
    if (s.Verbose < 0 || !s.OnLog)
        return;
    std::string left;
    bool othersMarked = false;
    for (unsigned k = 0; k < ic->nb_streams; ++k) {
        const AVStream* st = ic->streams[k];
        if (static_cast<int>(k) == chosen || !free[k] ||
            st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        left += Format("%s#%d.%u", left.empty() ? "" : ", ", file, k);
        othersMarked = othersMarked || (st->disposition & AV_DISPOSITION_DEFAULT);
    }
    if (left.empty())
        return;
    const bool marked =
        (ic->streams[chosen]->disposition & AV_DISPOSITION_DEFAULT) && !othersMarked;
    s.Log(1, Format("Audio track #%d.%d taken%s; left: %s", file, chosen,
                    marked ? " (marked as the default)" : "", left.c_str()));
}

bool IsAttachedPicture(const InputStream& ist) {
    return (ist.St->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
}

// Moving pictures before a picture attached to the file (cover art), which is a video stream
// too but only the last resort for a video output.
int FindFirstUnusedSource(TranscodeTables& t, AVMediaType type) {
    int attached = -1;
    for (size_t i = 0; i < t.InputStreams.size(); ++i) {
        const InputStream& ist = *t.InputStreams[i];
        if (!ist.Discard || InputType(ist) != type)
            continue;
        if (!IsAttachedPicture(ist))
            return static_cast<int>(i);
        if (attached < 0)
            attached = static_cast<int>(i);
    }
    return attached;
}

// The audio track the source marks as its default (else the library's best) among the input
// streams no output took yet; the log names the tracks taken and left.
int FindUnusedAudioSource(TCustomFFmpeg& s, TranscodeTables& t) {
    for (int file = 0; file < s.InputFileCount; ++file) {
        const InputFile& in = t.Files[file];
        std::vector<bool> free(static_cast<size_t>(in.NbStreams));
        for (int k = 0; k < in.NbStreams; ++k)
            free[k] = t.InputStreams[in.IstIndex + k]->Discard != 0;
        const int chosen = PreferredAudioStream(s.InputFiles[file], free);
        if (chosen < 0)
            continue;
        ReportAudioChoice(s, s.InputFiles[file], file, chosen, free);
        return in.IstIndex + chosen;
    }
    return -1;
}

// A stream already taken by another output is shared: the last one of the type wins.
int FindSharedSource(TranscodeTables& t, AVMediaType type) {
    int found = -1;
    for (size_t i = 0; i < t.InputStreams.size(); ++i)
        if (InputType(*t.InputStreams[i]) == type)
            found = static_cast<int>(i);
    return found;
}

void ChooseSource(TCustomFFmpeg& s, TranscodeTables& t, OutputStream& ost, int n) {
    AVFormatContext* oc = s.OutputFiles[ost.FileIndex];
    AVMediaType type = OutputType(ost);
    int source = -1;
    if (s.StreamMapCount > 0) {
        const StreamMap& map = s.StreamMaps[n];
        source = t.Files[map.FileIndex].IstIndex + map.StreamIndex;
        if (InputType(*t.InputStreams[source]) != type) {
            av::av_dump_format(oc, ost.FileIndex, oc->url, 1);
            throw FFMpegException(Format("Codec type mismatch for mapping #%d.%d -> #%d.%d",
                                         map.FileIndex, map.StreamIndex, ost.FileIndex, ost.Index));
        }
    } else if (ost.St->disposition & AV_DISPOSITION_ATTACHED_PIC) {
        source = t.Files[0].IstIndex + CoverPictureStream(s.InputFiles[0]);
    } else {
        source = s.ProgramId                  ? FindProgramSource(s, t, type)
                 : type == AVMEDIA_TYPE_AUDIO ? FindUnusedAudioSource(s, t)
                                              : FindFirstUnusedSource(t, type);
        if (source < 0 && s.ProgramId == 0)
            source = FindSharedSource(t, type);
        if (source < 0) {
            av::av_dump_format(oc, ost.FileIndex, oc->url, 1);
            throw FFMpegException(
                Format("Could not find input stream matching output stream #%d.%d", ost.FileIndex,
                       ost.Index));
        }
    }
    ost.SourceIndex = source;
    InputStream& ist = *t.InputStreams[source];
    ist.Discard = 0;
    if (s.StreamMapCount > 0) {
        const StreamMap& map = s.StreamMaps[n];
        ost.SyncIst =
            t.InputStreams[t.Files[map.SyncFileIndex].IstIndex + map.SyncStreamIndex].get();
    } else {
        ost.SyncIst = &ist;
    }
}

void BuildOutputTable(TCustomFFmpeg& s, TranscodeTables& t) {
    int n = 0;
    for (int k = 0; k < s.OutputFileCount; ++k) {
        AVFormatContext* oc = s.OutputFiles[k];
        for (unsigned i = 0; i < oc->nb_streams; ++i, ++n) {
            auto ost = std::make_unique<OutputStream>();
            ost->FileIndex = k;
            ost->Index = static_cast<int32_t>(i);
            ost->St = oc->streams[i];
            ost->Enc = i < s.OutputEncoders[k].size() ? s.OutputEncoders[k][i] : nullptr;
            if (!ost->Enc)
                throw FFMpegException("invalid codec_type of output stream");
            ChooseSource(s, t, *ost, n);
            t.OutputStreams.push_back(std::move(ost));
        }
    }
}

void CopyLanguageAndDisposition(OutputStream& ost, const InputStream& ist) {
    if (!av::av_dict_get(ost.St->metadata, "language", nullptr, 0)) {
        if (AVDictionaryEntry* language = av::av_dict_get(ist.St->metadata, "language", nullptr, 0))
            av::av_dict_set(&ost.St->metadata, "language",
                            std::string(language->value).substr(0, 3).c_str(), 0);
    }
    ost.St->disposition = ist.St->disposition;
}

// The input tag is kept when the output container has no tag table, knows the same codec for
// that tag, or has no tag of its own for the codec.
uint32_t CopiedCodecTag(const AVFormatContext* oc, const AVCodecParameters* in) {
    const AVCodecTag* const* tags = oc->oformat->codec_tag;
    if (!tags || av::av_codec_get_id(tags, in->codec_tag) == in->codec_id ||
        av::av_codec_get_tag(tags, in->codec_id) <= 0)
        return in->codec_tag;
    return 0;
}

// Copied pictures keep how they are to be shown: the display matrix goes with them, for the
// containers that hold one.
void CopyDisplayMatrix(AVStream* out, const AVStream* in) {
    size_t size = 0;
    const uint8_t* matrix = av::av_stream_get_side_data(in, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size == 0)
        return;
    uint8_t* copy = av::av_stream_new_side_data(out, AV_PKT_DATA_DISPLAYMATRIX, size);
    if (!copy)
        throw FFMpegException("av_mallocz fail");
    std::memcpy(copy, matrix, size);
}

void SetupStreamCopy(TCustomFFmpeg& s, OutputStream& ost, InputStream& ist) {
    AVFormatContext* oc = s.OutputFiles[ost.FileIndex];
    AVCodecParameters* out = ost.St->codecpar;
    const AVCodecParameters* in = ist.St->codecpar;
    uint32_t forcedTag = ost.Enc->codec_tag;
    // The stream was made with the aspect the options asked for (the input's by default).
    AVRational aspect = ost.St->sample_aspect_ratio;
    if (av::avcodec_parameters_copy(out, in) < 0)
        throw FFMpegException("av_mallocz fail");
    out->codec_tag = forcedTag ? forcedTag : CopiedCodecTag(oc, in);
    ost.St->time_base = ist.St->time_base;
    ost.St->avg_frame_rate = ist.St->avg_frame_rate;
    ost.St->r_frame_rate = ist.St->r_frame_rate;
    if (out->codec_type != AVMEDIA_TYPE_VIDEO || aspect.num <= 0 || aspect.den <= 0)
        aspect = ist.St->sample_aspect_ratio;
    ost.St->sample_aspect_ratio = aspect;
    if (out->codec_type == AVMEDIA_TYPE_VIDEO)
        out->sample_aspect_ratio = aspect;
    switch (out->codec_type) {
    case AVMEDIA_TYPE_VIDEO:
        // A cover picture is no video: hooks never see it.
        if (ost.St->disposition & AV_DISPOSITION_ATTACHED_PIC)
            break;
        CopyDisplayMatrix(ost.St, ist.St);
        if (s.OnCustomHook)
            throw FFMpegException(
                "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (s.UsingVhook)
            throw FFMpegException(
                "-vcodec copy and -vhook are incompatible (frames are not decoded)");
        break;
    case AVMEDIA_TYPE_AUDIO:
        if (s.AudioVolume != 256)
            throw FFMpegException(
                "-acodec copy and -vol are incompatible (frames are not decoded)");
        if ((out->block_align == 1 && out->codec_id == AV_CODEC_ID_MP3) ||
            out->codec_id == AV_CODEC_ID_AC3)
            out->block_align = 0;
        break;
    case AVMEDIA_TYPE_SUBTITLE:
        break;
    default:
        throw FFMpegException("invalid codec_type of output stream");
    }
}

AVFrame* AllocPicture(int format, int width, int height) {
    AVFrame* picture = av::av_frame_alloc();
    if (!picture)
        return nullptr;
    picture->format = format;
    picture->width = width;
    picture->height = height;
    if (av::av_frame_get_buffer(picture, 0) < 0)
        av::av_frame_free(&picture);
    return picture;
}

// A damaged or cut source may leave a stream whose pictures or samples were never seen; the
// scaler, resampler and encoders must not be set up from unknown values.
void CheckVideoSourceKnown(const InputStream& ist, int format) {
    const AVCodecParameters* in = ist.St->codecpar;
    if (format == AV_PIX_FMT_NONE || !av::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format)) ||
        in->width <= 0 || in->height <= 0)
        throw FFMpegException(
            Format("Video stream #%d.%d cannot be converted: its picture size or pixel format is "
                   "unknown (the file is damaged or incomplete)",
                   ist.FileIndex, ist.Index));
}

void CheckAudioSourceKnown(const InputStream& ist) {
    const AVCodecParameters* in = ist.St->codecpar;
    int format = ist.Dec ? ist.Dec->sample_fmt : in->format;
    if (format == AV_SAMPLE_FMT_NONE || in->sample_rate <= 0 || in->ch_layout.nb_channels <= 0)
        throw FFMpegException(
            Format("Audio stream #%d.%d cannot be converted: its sample rate, channels or sample "
                   "format is unknown (the file is damaged or incomplete)",
                   ist.FileIndex, ist.Index));
}

// How the stream's decoded pictures are shaped before anything else: turned upright when its
// display matrix asks for it, deinterlaced when they are interlaced and the output is coded
// progressive.
// The pixel format chosen for the devices the output is for, when it is not the source's.
void LogDevicePixelFormat(TCustomFFmpeg& s, const AVCodecContext* enc, int sourceFormat) {
    if (!s.FramePixFmtFromSource || enc->pix_fmt == sourceFormat || !enc->codec || s.Verbose < 0 ||
        !s.OnLog)
        return;
    const char* from = av::av_get_pix_fmt_name(static_cast<AVPixelFormat>(sourceFormat));
    const char* to = av::av_get_pix_fmt_name(enc->pix_fmt);
    s.Log(1, "Video encoder " + std::string(enc->codec->name) + " is given " + (to ? to : "?") +
                 " pictures (the source's are " + (from ? from : "unknown") + ")");
}

// HDR pictures are mapped to SDR unless the filter chain maps colours itself.
void ChooseToneMapping(TCustomFFmpeg& s, InputStream& ist) {
    const AVCodecParameters* par = ist.St->codecpar;
    if (!CarriesHdrTransfer(par) || ChainMapsTones(s.VideoFilters))
        return;
    ist.MapTones = !ToneMapFilters(par, "yuv420p").empty();
    if (s.Verbose < 0 || !s.OnLog)
        return;
    const char* transfer = par->color_trc == AVCOL_TRC_SMPTE2084 ? "PQ" : "HLG";
    s.Log(1, ist.MapTones ? Format("Video stream #%d.%d is HDR (%s): tone-mapped to SDR BT.709 "
                                   "with zscale and tonemap",
                                   ist.FileIndex, ist.Index, transfer)
                          : Format("Video stream #%d.%d is HDR (%s), but libavfilter has no "
                                   "zscale: converted without tone mapping",
                                   ist.FileIndex, ist.Index, transfer));
}

void ChoosePictureShaping(TCustomFFmpeg& s, const AVCodecContext* enc, InputStream& ist) {
    const bool turning = s.AutoRotate && !ChainTurnsPicture(s.VideoFilters);
    ist.Turn = turning ? StreamTurn(ist.St) : PictureTurn{};
    ChooseToneMapping(s, ist);
    const AVCodecContext* options = s.CodecOptContexts[AVMEDIA_TYPE_VIDEO];
    const int interlacedCoding = AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    ist.DeinterlaceWhenInterlaced =
        !(enc->flags & interlacedCoding) && !(options && (options->flags & interlacedCoding));
}

void SetupVideoEncoding(TCustomFFmpeg& s, OutputStream& ost, InputStream& ist) {
    AVCodecContext* enc = ost.Enc;
    const AVCodecParameters* in = ist.St->codecpar;
    int inFormat = ist.Dec ? ist.Dec->pix_fmt : in->format;
    CheckVideoSourceKnown(ist, inFormat);
    ChoosePictureShaping(s, enc, ist);
    LogDevicePixelFormat(s, enc, inFormat);
    // Pictures left as coded keep the source's display matrix, so players still show them
    // upright.
    if (!s.AutoRotate)
        CopyDisplayMatrix(ost.St, ist.St);
    ost.VideoCrop = (s.FrameTopBand + s.FrameBottomBand + s.FrameLeftBand + s.FrameRightBand) != 0;
    ost.VideoPad = (s.FramePadTop + s.FramePadBottom + s.FramePadLeft + s.FramePadRight) != 0;
    ost.VideoResample = (s.FrameLeftBand + s.FrameRightBand + enc->width) !=
                            (in->width + s.FramePadLeft + s.FramePadRight) ||
                        (s.FrameTopBand + s.FrameBottomBand + enc->height) !=
                            (in->height + s.FramePadTop + s.FramePadBottom) ||
                        inFormat != enc->pix_fmt;
    if (ost.VideoCrop) {
        ost.TopBand = s.FrameTopBand;
        ost.LeftBand = s.FrameLeftBand;
    }
    if (ost.VideoPad) {
        ost.PadTop = s.FramePadTop;
        ost.PadLeft = s.FramePadLeft;
        ost.PadBottom = s.FramePadBottom;
        ost.PadRight = s.FramePadRight;
        if (!ost.VideoResample) {
            ost.PictTmp = AllocPicture(enc->pix_fmt, enc->width, enc->height);
            if (!ost.PictTmp)
                throw FFMpegException("avpicture_alloc fail");
        }
    }
    if (ost.VideoResample) {
        ost.PictTmp = AllocPicture(enc->pix_fmt, enc->width, enc->height);
        if (!ost.PictTmp)
            throw FFMpegException("Cannot allocate temp picture, check pix fmt");
        int64_t flags = s.SwsFlags;
        if (s.ScalerOptContext && av::av_opt_get_int(s.ScalerOptContext, "sws_flags",
                                                     AV_OPT_SEARCH_CHILDREN, &flags) >= 0)
            s.SwsFlags = static_cast<int32_t>(flags);
        ost.ImgResampleCtx = av::sws_getContext(
            in->width - (s.FrameLeftBand + s.FrameRightBand),
            in->height - (s.FrameTopBand + s.FrameBottomBand), static_cast<AVPixelFormat>(inFormat),
            enc->width - (s.FramePadLeft + s.FramePadRight),
            enc->height - (s.FramePadTop + s.FramePadBottom), enc->pix_fmt, s.SwsFlags, nullptr,
            nullptr, nullptr);
        if (!ost.ImgResampleCtx)
            throw FFMpegException("Cannot get resampling context");
        ost.ResampleHeight =
            s.FiltersEnabled ? in->height : in->height - (s.FrameTopBand + s.FrameBottomBand);
    }
    ost.EncodingNeeded = 1;
    ist.DecodingNeeded = 1;
    s.SetupError.clear();
    LibraryReason reason;
    if (s.FiltersEnabled && !s.BuildFilterGraph(ist, ost)) {
        if (!s.SetupError.empty())
            throw FFMpegException(reason.Explain("Error opening filters: " + s.SetupError));
        throw FFMpegException(reason.Explain("Error opening filters!"));
    }
}

void SetupAudioEncoding(TCustomFFmpeg& s, OutputStream& ost, InputStream& ist) {
    CheckAudioSourceKnown(ist);
    ost.Fifo = av::av_fifo_alloc2(1024, 1, AV_FIFO_FLAG_AUTO_GROW);
    if (!ost.Fifo)
        throw FFMpegException("av_fifo_init fail");
    s.ChooseAudioEncoderFormat(ost);
    // Deep integer sources keep their depth for encoders that take 32-bit samples; every other
    // output of the same source is converted from that as well.
    auto deep = [](int format) {
        return format == AV_SAMPLE_FMT_S32 || format == AV_SAMPLE_FMT_S32P;
    };
    if (ist.Dec && deep(ist.Dec->sample_fmt) && deep(ost.Enc->sample_fmt))
        ist.PackedSampleFormat = AV_SAMPLE_FMT_S32;
    ost.PackedInput = ist.PackedSampleFormat;
    ost.ReformatPair = -6;
    ost.AudioResample =
        ost.Enc->sample_rate != ist.St->codecpar->sample_rate || s.AudioSyncMethod >= 2;
    ost.EncodingNeeded = 1;
    ist.DecodingNeeded = 1;
}

std::string PassLogFileName(const TCustomFFmpeg& s, int n) {
    std::string name = (s.PassLogFileName.empty() ? "ffmpeg2pass" : s.PassLogFileName) + "-" +
                       std::to_string(n) + ".log";
    return name.substr(0, 1023);
}

// Adds "pass=N:stats=NAME" to the encoder's x265 parameters (after those the user gave).
void SetX265Pass(AVCodecContext* enc, const std::string& name) {
    const bool first = enc->flags & AV_CODEC_FLAG_PASS1;
    if (!first && access(name.c_str(), R_OK) != 0)
        throw FFMpegException("creat open fail: " + name);
    // The parameters are split at ':' and '=', which a file name cannot escape.
    if (name.find_first_of(":=") != std::string::npos)
        throw FFMpegException("creat file fail: " + name);
    uint8_t* given = nullptr;
    std::string params;
    if (av::av_opt_get(enc->priv_data, "x265-params", 0, &given) >= 0 && given)
        params = reinterpret_cast<const char*>(given);
    av::av_freep(&given);
    if (!params.empty())
        params.push_back(':');
    params.append(first ? "pass=1" : "pass=2").append(":stats=").append(name);
    if (av::av_opt_set(enc->priv_data, "x265-params", params.c_str(), 0) < 0)
        throw FFMpegException("creat file fail: " + name);
}

void OpenPassLog(TCustomFFmpeg& s, OutputStream& ost, int n) {
    AVCodecContext* enc = ost.Enc;
    if (!(enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)))
        return;
    std::string name = PassLogFileName(s, n);
    // libx265 takes its pass and statistics file among its own parameters.
    if (enc->priv_data && av::av_opt_find(enc->priv_data, "x265-params", nullptr, 0, 0)) {
        SetX265Pass(enc, name);
        return;
    }
    // Encoders that keep their statistics in a file of their own (libx264's "stats") are
    // given the log's name, so that runs with different names never share one.
    if (enc->priv_data && av::av_opt_find(enc->priv_data, "stats", nullptr, 0, 0)) {
        if (enc->flags & AV_CODEC_FLAG_PASS2 && access(name.c_str(), R_OK) != 0)
            throw FFMpegException("creat open fail: " + name);
        if (av::av_opt_set(enc->priv_data, "stats", name.c_str(), 0) < 0)
            throw FFMpegException("creat file fail: " + name);
        return;
    }
    if (enc->flags & AV_CODEC_FLAG_PASS1) {
        ost.LogFile = fopen(name.c_str(), "w");
        if (!ost.LogFile)
            throw FFMpegException("creat file fail: " + name);
        return;
    }
    FILE* log = fopen(name.c_str(), "r");
    if (!log)
        throw FFMpegException("creat open fail: " + name);
    fseek(log, 0, SEEK_END);
    long size = ftell(log);
    fseek(log, 0, SEEK_SET);
    char* text =
        size >= 0 ? static_cast<char*>(av::av_malloc(static_cast<size_t>(size) + 1)) : nullptr;
    if (!text) {
        fclose(log);
        throw FFMpegException("Could not allocate log buffer");
    }
    size_t read = fread(text, 1, static_cast<size_t>(size), log);
    fclose(log);
    text[read] = 0;
    av::av_freep(&enc->stats_in);
    enc->stats_in = text;
}

void SetupCodecParameters(TCustomFFmpeg& s, TranscodeTables& t) {
    for (size_t n = 0; n < t.OutputStreams.size(); ++n) {
        OutputStream& ost = *t.OutputStreams[n];
        InputStream& ist = *t.InputStreams[ost.SourceIndex];
        CopyLanguageAndDisposition(ost, ist);
        if (s.OutputStreamCopy[ost.FileIndex][ost.Index]) {
            SetupStreamCopy(s, ost, ist);
        } else {
            switch (OutputType(ost)) {
            case AVMEDIA_TYPE_AUDIO:
                SetupAudioEncoding(s, ost, ist);
                break;
            case AVMEDIA_TYPE_VIDEO:
                SetupVideoEncoding(s, ost, ist);
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                ost.EncodingNeeded = 1;
                ist.DecodingNeeded = 1;
                break;
            default:
                throw FFMpegException("invalid codec_type of output stream");
            }
            OpenPassLog(s, ost, static_cast<int>(n));
        }
    }
}

void ReportStreamMapping(TCustomFFmpeg& s, TranscodeTables& t) {
    if (s.Verbose < 0 || !s.OnLog)
        return;
    s.Log(1, "Stream mapping:");
    for (auto& ost : t.OutputStreams) {
        const InputStream& source = *t.InputStreams[ost->SourceIndex];
        s.Log(1, Format("  Stream #%d.%d -> #%d.%d", source.FileIndex, source.Index, ost->FileIndex,
                        ost->Index));
        if (ost->SyncIst != &source)
            s.Log(1, Format(" [sync #%d.%d]", ost->SyncIst->FileIndex, ost->SyncIst->Index));
    }
}

// Opens one input stream's decoder, once. The codec is the one its context was made for, which
// may be a named decoder rather than the default for the stream's codec id. A decoder that
// feeds an encoder on a thread of its own may get more frame threads, or decoders of its own
// for groups of pictures.
void OpenDecoder(TCustomFFmpeg& s, InputStream& ist, bool besideEncoderThread = false) {
    if (ist.DecodedFrame)
        return;
    AVCodecID id = ist.St->codecpar->codec_id;
    const AVCodec* codec = nullptr;
    if (ist.Dec)
        codec = ist.Dec->codec ? ist.Dec->codec : av::avcodec_find_decoder(ist.Dec->codec_id);
    if (!codec)
        throw FFMpegException(Format("Unsupported codec (id=%d) for input stream #%d.%d",
                                     static_cast<int>(id), ist.FileIndex, ist.Index));
    // With automatic threads, the video of an encoder on a thread of its own may be decoded in
    // whole groups of pictures side by side instead of on the decoder's own threads. The loop
    // ends a run with a recording time or a size limit when its outputs reach it: pictures
    // decoded groups behind the reading would run past it, so such runs keep one decoder.
    const bool endsAtTheInputsEnd =
        s.RecordingTime == std::numeric_limits<int64_t>::max() && s.LimitFileSize == 0;
    if (besideEncoderThread && endsAtTheInputsEnd && ist.Dec->thread_count <= 0)
        ist.Groups = GroupedDecoding::Open(ist.Dec, ist.St, codec, CoresOfOneRun(s.ConcurrentRuns));
    if (ist.Groups)
        ist.Dec->thread_count = 1;
    else if (besideEncoderThread)
        ist.Dec->thread_count = DecoderThreadCountBesideEncoderThread(
            codec, ist.Dec->thread_count, s.ConcurrentRuns,
            static_cast<int64_t>(ist.Dec->width) * ist.Dec->height);
    else
        ist.Dec->thread_count = CodecThreadCount(codec, ist.Dec->thread_count, s.ConcurrentRuns);
    {
        std::lock_guard lock(CodecLock());
        LibraryReason reason;
        if (av::avcodec_open2(ist.Dec, codec, nullptr) < 0)
            throw FFMpegException(reason.Explain(Format(
                "Error while opening codec for input stream #%d.%d", ist.FileIndex, ist.Index)));
        s.OpenDecoders.push_front(&ist);
    }
    ist.DecodedFrame = av::av_frame_alloc();
    if (!ist.DecodedFrame)
        throw FFMpegException("av_mallocz fail");
    if (ist.Groups)
        s.Log(1, Format("Stream #%d.%d is decoded in groups of pictures by %d decoders at once",
                        ist.FileIndex, ist.Index, static_cast<int>(ist.Groups->Lanes())));
}

// A text subtitle encoder (SubRip, ASS, ...) writes its events in the style its source decoder
// describes, so it needs that decoder's header before it opens; the decoder makes the header
// when it opens.
void CopySubtitleHeader(TCustomFFmpeg& s, TranscodeTables& t, OutputStream& ost) {
    InputStream& source = *t.InputStreams[ost.SourceIndex];
    if (!source.DecodingNeeded || !source.Dec)
        return;
    OpenDecoder(s, source);
    const int size = source.Dec->subtitle_header_size;
    if (size <= 0 || !source.Dec->subtitle_header)
        return;
    auto* header = static_cast<uint8_t*>(av::av_mallocz(static_cast<size_t>(size) + 1));
    if (!header)
        throw FFMpegException("av_mallocz fail");
    std::memcpy(header, source.Dec->subtitle_header, static_cast<size_t>(size));
    av::av_freep(&ost.Enc->subtitle_header);
    ost.Enc->subtitle_header = header; // freed with the encoder context
    ost.Enc->subtitle_header_size = size;
}

// Opens each encoder with the codec its context was made for: a named encoder such as libxvid
// is not the default for its codec id, and the library refuses to open a context with another.
void OpenEncoders(TCustomFFmpeg& s, TranscodeTables& t) {
    for (auto& ost : t.OutputStreams) {
        if (!ost->EncodingNeeded)
            continue;
        const AVCodec* codec =
            ost->Enc->codec ? ost->Enc->codec : av::avcodec_find_encoder(ost->Enc->codec_id);
        if (!codec)
            throw FFMpegException(
                Format("Unsupported codec for output stream #%d.%d", ost->FileIndex, ost->Index));
        if (ost->Enc->codec_type == AVMEDIA_TYPE_SUBTITLE) {
            // Subtitle times are kept in microseconds until the muxer takes them.
            if (ost->Enc->time_base.num <= 0 || ost->Enc->time_base.den <= 0)
                ost->Enc->time_base = AVRational{1, AV_TIME_BASE};
            CopySubtitleHeader(s, t, *ost);
        }
        const int32_t askedThreads = ost->Enc->thread_count;
        ost->Enc->thread_count = CodecThreadCount(codec, askedThreads, s.ConcurrentRuns);
        BoundEncoderLookahead(ost->Enc, codec);
        // A hardware encoder that opens takes the stream; otherwise the software one opens.
        if (s.HardwareEncoding && ost->Enc->codec_type == AVMEDIA_TYPE_VIDEO &&
            OpenHardwareEncoder(s, *ost)) {
            codec = ost->Enc->codec;
        } else {
            std::lock_guard lock(CodecLock());
            LibraryReason reason;
            if (av::avcodec_open2(ost->Enc, codec, nullptr) < 0)
                throw FFMpegException(reason.Explain(
                    Format("Error while opening codec for output stream #%d.%d - maybe incorrect "
                           "parameters such as bit_rate, rate, width or height",
                           ost->FileIndex, ost->Index)));
            s.OpenEncoders.push_front(ost.get());
        }
        if (av::avcodec_parameters_from_context(ost->St->codecpar, ost->Enc) < 0)
            throw FFMpegException("av_mallocz fail");
        ost->St->time_base = ost->Enc->time_base;
        if (ost->Enc->codec_type == AVMEDIA_TYPE_VIDEO)
            ost->St->avg_frame_rate = ost->Enc->framerate;
        ost->EncoderFrame = av::av_frame_alloc();
        if (!ost->EncoderFrame)
            throw FFMpegException("av_mallocz fail");
        if (EncodesOnItsOwnThread(codec, askedThreads, s.ConcurrentRuns))
            ost->Pipe = std::make_unique<EncoderPipe>(ost->Enc, kPicturesForTheEncoder,
                                                      PipeRescaler(s, *ost));
        s.ExtraSize += ost->Enc->extradata_size;
    }
}

bool FeedsAnEncoderThread(const TranscodeTables& t, int istIndex) {
    for (const auto& ost : t.OutputStreams)
        if (ost->SourceIndex == istIndex && ost->Pipe)
            return true;
    return false;
}

void OpenDecoders(TCustomFFmpeg& s, TranscodeTables& t) {
    for (size_t i = 0; i < t.InputStreams.size(); ++i)
        if (t.InputStreams[i]->DecodingNeeded)
            OpenDecoder(s, *t.InputStreams[i], FeedsAnEncoderThread(t, static_cast<int>(i)));
}

// Bitstream filters are initialised once the stream's final parameters are known; what they
// put out becomes the stream's parameters.
void OpenBitstreamFilters(TCustomFFmpeg& s, TranscodeTables& t) {
    for (auto& ost : t.OutputStreams) {
        const std::string& chain = s.BitstreamFilters[ost->FileIndex][ost->Index];
        if (chain.empty())
            continue;
        AVBSFContext* bsf = nullptr;
        LibraryReason reason;
        int ret = av::av_bsf_list_parse_str(chain.c_str(), &bsf);
        if (ret >= 0) {
            ost->BitstreamFilter = bsf;
            ret = av::avcodec_parameters_copy(bsf->par_in, ost->St->codecpar);
        }
        if (ret >= 0) {
            bsf->time_base_in = ost->St->time_base;
            ret = av::av_bsf_init(bsf);
        }
        if (ret < 0)
            throw FFMpegException(
                reason.Explain(Format("Error initializing bitstream filter: %s", chain.c_str())));
        av::avcodec_parameters_copy(ost->St->codecpar, bsf->par_out);
        ost->St->time_base = bsf->time_base_out;
    }
}

void ResetInputTimestamps(TranscodeTables& t) {
    for (auto& ist : t.InputStreams) {
        ist->Pts = 0;
        ist->NextPts = NoPts;
        ist->IsStart = 1;
    }
}

void CopyMetaDataMaps(TCustomFFmpeg& s) {
    static const char* const keys[] = {"title", "artist", "copyright", "comment",
                                       "album", "date",   "track",     "genre"};
    for (int i = 0; i < s.MetaDataMapCount; ++i) {
        const MetaDataMap& map = s.MetaDataMaps[i];
        if (map.OutFile < 0 || map.OutFile >= s.OutputFileCount)
            throw FFMpegException(Format("Invalid output file index %d map_meta_data(%d,%d)",
                                         map.OutFile, map.OutFile, map.InFile));
        if (map.InFile < 0 || map.InFile >= s.InputFileCount)
            throw FFMpegException(Format("Invalid input file index %d map_meta_data(%d,%d)",
                                         map.InFile, map.OutFile, map.InFile));
        AVFormatContext* in = s.InputFiles[map.InFile];
        AVFormatContext* out = s.OutputFiles[map.OutFile];
        for (const char* key : keys)
            if (AVDictionaryEntry* entry = av::av_dict_get(in->metadata, key, nullptr, 0))
                av::av_dict_set(&out->metadata, key, entry->value, 0);
    }
}

void WriteHeaders(TCustomFFmpeg& s) {
    bool allRtp = s.OutputFileCount > 0;
    for (int k = 0; k < s.OutputFileCount; ++k) {
        AVFormatContext* oc = s.OutputFiles[k];
        LibraryReason reason;
        SettleTagForm(oc);
        int ret = av::avformat_write_header(oc, nullptr);
        if (ret >= 0 && oc->pb && oc->pb->error < 0)
            ret = oc->pb->error;
        if (ret < 0 && IsOutOfSpace(ret))
            throw FFMpegException(Format(
                "Could not write header for output file #%d: no space left on the device", k));
        if (ret < 0)
            throw FFMpegException(reason.Explain(Format(
                "Could not write header for output file #%d (incorrect codec parameters ?)", k)));
        s.OutputPacketCounts[k] = 0;
        allRtp = allRtp && std::strcmp(oc->oformat->name, "rtp") == 0;
    }
    if (allRtp && s.OnLog) {
        char sdp[2048] = {};
        av::av_sdp_create(s.OutputFiles.data(), s.OutputFileCount, sdp, sizeof sdp);
        std::string text = sdp;
        text.erase(text.find_last_not_of(" \r\n\t") + 1);
        s.Log(1, "SDP: " + text);
    }
}

} // namespace

void SetupTranscode(TCustomFFmpeg& s, TranscodeTables& t) {
    BuildInputTables(s, t);
    int outputStreamCount = CountOutputStreams(s);
    CheckStreamMaps(s, t, outputStreamCount);
    BuildOutputTable(s, t);
    SetupCodecParameters(s, t);
    for (int k = 0; k < s.OutputFileCount; ++k)
        av::av_dump_format(s.OutputFiles[k], k, s.OutputFiles[k]->url, 1);
    ReportStreamMapping(s, t);
    OpenEncoders(s, t);
    OpenDecoders(s, t);
    OpenBitstreamFilters(s, t);
    ResetInputTimestamps(t);
    CopyMetaDataMaps(s);
    WriteHeaders(s);
    s.TimerStart = av::av_gettime();
}

} // namespace mobivert::engine
