// Creating one output container: the filter checks, the container format, the streams the output
// gets, its meta-data and the file opened for writing. The header is written later, when the
// transcode starts.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/open/DescriptorOutput.h"
#include "engine/open/OpenErrorText.h"
#include "engine/open/SourceTags.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace mobivert::engine {

namespace {

// At most size - 1 bytes of text, never cutting a UTF-8 character in two.
std::string Bounded(const std::string& text, size_t size) {
    if (text.size() < size)
        return text;
    size_t length = size - 1;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    return text.substr(0, length);
}

void SetMetaText(AVFormatContext* oc, const char* key, const std::string& text, size_t size) {
    if (!text.empty())
        av::av_dict_set(&oc->metadata, key, Bounded(text, size).c_str(), 0);
}

void SetMetaNumber(AVFormatContext* oc, const char* key, int32_t number) {
    if (number > 0)
        av::av_dict_set(&oc->metadata, key, std::to_string(number).c_str(), 0);
}

// The recording date as the creation time muxers write into their headers.
void SetCreationTime(AVFormatContext* oc, int64_t seconds) {
    if (seconds == 0)
        return;
    std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (!gmtime_r(&time, &utc))
        return;
    char text[64];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc) > 0)
        av::av_dict_set(&oc->metadata, "creation_time", text, 0);
}

void FreeEncoders(std::vector<AVCodecContext*>& encoders) {
    for (AVCodecContext*& encoder : encoders)
        av::avcodec_free_context(&encoder);
    encoders.clear();
}

// True when the inputs hold subtitles and every one of them is text: only those can go into a
// container's own subtitle codec, which is a text codec wherever one exists.
bool SubtitlesAreAllText(const AVFormatContext* const* inputs, int count) {
    bool found = false;
    for (int i = 0; i < count; ++i) {
        const AVFormatContext* ic = inputs[i];
        for (unsigned k = 0; ic && k < ic->nb_streams; ++k) {
            const AVCodecParameters* par = ic->streams[k]->codecpar;
            if (par->codec_type != AVMEDIA_TYPE_SUBTITLE)
                continue;
            const AVCodecDescriptor* descriptor = av::avcodec_descriptor_get(par->codec_id);
            if (!descriptor || !(descriptor->props & AV_CODEC_PROP_TEXT_SUB))
                return false;
            found = true;
        }
    }
    return found;
}

} // namespace

bool TCustomFFmpeg::ChainResizesPicture(const std::string& description) {
    static const std::string resizing = ",crop,rotate,scale,transpose,";
    std::string lower = description;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    size_t pos = 0;
    while (pos < lower.size()) {
        size_t end = lower.find(',', pos);
        if (end == std::string::npos)
            end = lower.size();
        std::string piece = lower.substr(pos, end - pos);
        std::string name = piece.substr(0, piece.find('='));
        if (resizing.find("," + name + ",") != std::string::npos)
            return true;
        pos = end + 1;
    }
    return false;
}

void TCustomFFmpeg::CheckInputMediaTypes(bool& hasVideo, bool& hasAudio, bool& hasSubtitle) {
    hasVideo = hasAudio = hasSubtitle = false;
    for (int i = 0; i < InputFileCount; ++i) {
        const AVFormatContext* ic = InputFiles[i];
        for (unsigned k = 0; ic && k < ic->nb_streams; ++k) {
            switch (ic->streams[k]->codecpar->codec_type) {
            case AVMEDIA_TYPE_VIDEO:
                // A cover picture is carried as cover art, never made into a video.
                hasVideo = hasVideo || !(ic->streams[k]->disposition & AV_DISPOSITION_ATTACHED_PIC);
                break;
            case AVMEDIA_TYPE_AUDIO:
                hasAudio = true;
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                hasSubtitle = true;
                break;
            case AVMEDIA_TYPE_DATA:
            case AVMEDIA_TYPE_ATTACHMENT:
            case AVMEDIA_TYPE_UNKNOWN:
                break;
            default:
                throw FFMpegException("invalid codec_type of input file");
            }
        }
    }
}

bool TCustomFFmpeg::OpenOutputFile(const std::string& fileName) {
    auto refuse = [this](const std::string& text) {
        SetupError = text;
        ForcedOutputFormat = nullptr;
        ForcedInputFormat = nullptr;
        return false;
    };

    if (!VideoFilters.empty() &&
        FrameTopBand + FrameBottomBand + FrameLeftBand + FrameRightBand != 0)
        return refuse("Cannot enable crop options and filters at the same time.");
    if (ChainResizesPicture(VideoFilters) &&
        FramePadTop + FramePadBottom + FramePadLeft + FramePadRight != 0)
        return refuse("Cannot enable pad options and the filters which resize frame at the same "
                      "time. (crop, rotate, scale, transpose, etc.)");
    FiltersEnabled = !VideoFilters.empty();

    if (OutputFileCount >= MAX_FILES)
        return refuse(fileName + ": too many output files (at most " + std::to_string(MAX_FILES) +
                      ")");
    const AVOutputFormat* format = ForcedOutputFormat
                                       ? ForcedOutputFormat
                                       : av::av_guess_format(nullptr, fileName.c_str(), nullptr);
    if (!format)
        return refuse("Unable to find a suitable output format for '" + fileName + "'");
    AVFormatContext* oc = nullptr;
    if (av::avformat_alloc_output_context2(&oc, format, nullptr, fileName.c_str()) < 0 || !oc)
        return refuse(OpenErrorText(AVERROR(ENOMEM), fileName));

    const int fileIndex = OutputFileCount;
    OutputStreamCopy[fileIndex] = {};
    BitstreamFilters[fileIndex] = {};
    FreeEncoders(OutputEncoders[fileIndex]);
    bool createdFile = false;
    // A refused output leaves nothing behind: not in OutputFiles, no open I/O, no empty file.
    auto discard = [&](const std::string& text) {
        FreeEncoders(OutputEncoders[fileIndex]);
        OutputStreamCopy[fileIndex] = {};
        BitstreamFilters[fileIndex] = {};
        if (!(format->flags & AVFMT_NOFILE))
            CloseOutputIO(oc);
        av::avformat_free_context(oc);
        if (createdFile) {
            std::error_code ec;
            if (std::filesystem::file_size(fileName, ec) == 0 && !ec)
                std::filesystem::remove(fileName, ec);
        }
        if (OutputFileCount > fileIndex) {
            OutputFiles[fileIndex] = nullptr;
            OutputFileCount = fileIndex;
        }
        return refuse(text);
    };

    bool useVideo =
        format->video_codec != AV_CODEC_ID_NONE || VideoStreamCopy || !VideoCodecName.empty();
    bool useAudio =
        format->audio_codec != AV_CODEC_ID_NONE || AudioStreamCopy || !AudioCodecName.empty();
    // Subtitles go into the container's own subtitle codec only when they are text; a named
    // codec or stream copy takes any subtitles.
    bool useSubtitle = (format->subtitle_codec != AV_CODEC_ID_NONE &&
                        SubtitlesAreAllText(InputFiles.data(), InputFileCount)) ||
                       SubtitleStreamCopy || !SubtitleCodecName.empty();
    if (InputFileCount > 0) {
        bool hasVideo = false;
        bool hasAudio = false;
        bool hasSubtitle = false;
        try {
            CheckInputMediaTypes(hasVideo, hasAudio, hasSubtitle);
        } catch (const FFMpegException& e) {
            return discard(std::string("check_audio_video_sub_inputs fail: ") + e.what());
        }
        useVideo = useVideo && hasVideo;
        useAudio = useAudio && hasAudio;
        useSubtitle = useSubtitle && hasSubtitle;
    }
    if (AudioDisable)
        useAudio = false;
    if (VideoDisable)
        useVideo = false;
    if (SubtitleDisable)
        useSubtitle = false;

    try {
        if (useVideo)
            NewVideoStream(oc, fileIndex);
    } catch (const FFMpegException& e) {
        return discard(std::string("new_video_stream fail: ") + e.what());
    }
    try {
        if (useAudio)
            NewAudioStream(oc, fileIndex);
    } catch (const FFMpegException& e) {
        return discard(std::string("new_audio_stream fail: ") + e.what());
    }
    try {
        if (useSubtitle)
            NewSubtitleStream(oc, fileIndex);
    } catch (const FFMpegException& e) {
        return discard(std::string("new_subtitle_stream fail: ") + e.what());
    }

    // The source's cover picture goes along where the container holds one, unless stream maps
    // say which streams the output gets.
    try {
        if (HoldsCoverPicture(format) && StreamMapCount == 0 && InputFileCount > 0 &&
            CoverPictureStream(InputFiles[0]) >= 0)
            NewCoverStream(oc, fileIndex);
    } catch (const FFMpegException& e) {
        return discard(std::string("new_video_stream fail: ") + e.what());
    }

    // The source's tags first: the component's own meta-data (and later a meta-data map)
    // replace them where set.
    if (InputFileCount > 0)
        CopySourceTags(InputFiles[0], oc);
    SetCreationTime(oc, RecTimestamp);
    SetMetaText(oc, "title", MetaTitle, 512);
    SetMetaText(oc, "artist", MetaAuthor, 512);
    SetMetaText(oc, "copyright", MetaCopyright, 512);
    SetMetaText(oc, "comment", MetaComment, 512);
    SetMetaText(oc, "album", MetaAlbum, 512);
    SetMetaNumber(oc, "date", MetaYear);
    SetMetaNumber(oc, "track", MetaTrack);
    SetMetaText(oc, "genre", MetaGenre, 32);

    OutputFiles[fileIndex] = oc;
    OutputFileCount = fileIndex + 1;

    if ((format->flags & AVFMT_NEEDNUMBER) && !av::av_filename_number_test(fileName.c_str()))
        return discard(OpenErrorText(AVERROR(EDOM), fileName));

    if (!(format->flags & AVFMT_NOFILE) && OutputDescriptor >= 0) {
        // The caller created the file: the output goes through its descriptor, never by name.
        oc->pb = OpenDescriptorOutput(OutputDescriptor);
        if (!oc->pb)
            return discard("Could not open '" + fileName + "': " + std::strerror(errno));
        oc->flags |= AVFMT_FLAG_CUSTOM_IO;
    } else if (!(format->flags & AVFMT_NOFILE)) {
        // An existing file is overwritten without asking.
        if (av::avio_open(&oc->pb, fileName.c_str(), AVIO_FLAG_WRITE) < 0)
            return discard("Could not open '" + fileName + "'");
        createdFile = true;
    }

    oc->max_delay = static_cast<int>(MuxMaxDelay * 1000000);
    // Preload and output looping are options of the muxers that have them (program streams,
    // animated pictures); other muxers have nothing to set.
    av::av_opt_set_int(oc, "preload", static_cast<int64_t>(MuxPreload * 1000000),
                       AV_OPT_SEARCH_CHILDREN);
    av::av_opt_set_int(oc, "loop", LoopOutput, AV_OPT_SEARCH_CHILDREN);
    SetContextOptions(oc, FormatOptContext, AV_OPT_FLAG_ENCODING_PARAM);

    ForcedOutputFormat = nullptr;
    ForcedInputFormat = nullptr;
    return true;
}

void TCustomFFmpeg::AddNewVideoStream() {
    if (OutputFileCount <= 0)
        throw FFMpegException("At least one output file must be specified");
    NewVideoStream(OutputFiles[OutputFileCount - 1], OutputFileCount - 1);
}

void TCustomFFmpeg::AddNewAudioStream() {
    if (OutputFileCount <= 0)
        throw FFMpegException("At least one output file must be specified");
    NewAudioStream(OutputFiles[OutputFileCount - 1], OutputFileCount - 1);
}

void TCustomFFmpeg::AddNewSubtitleStream() {
    if (OutputFileCount <= 0)
        throw FFMpegException("At least one output file must be specified");
    NewSubtitleStream(OutputFiles[OutputFileCount - 1], OutputFileCount - 1);
}

} // namespace mobivert::engine
