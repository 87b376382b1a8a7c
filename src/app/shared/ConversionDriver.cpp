#include "app/shared/ConversionDriver.h"

#include "app/shared/HeapPolicy.h"
#include "app/shared/ModernOutputOptions.h"
#include "app/shared/Presets.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace mobivert::app {

using converter::AudioStreamInfo;
using converter::TAVProbe;
using converter::TOutputOptions;
using converter::VideoStreamInfo;

namespace {

// kbit/s as typed, in bit/s; a product beyond 32 bits is held at the nearest bound.
std::optional<int32_t> KbitText(const std::string& text) {
    std::optional<int> kbit = ParseIntegerText(text);
    if (!kbit)
        return std::nullopt;
    int64_t bits = static_cast<int64_t>(*kbit) * 1000;
    return static_cast<int32_t>(std::clamp<int64_t>(bits, INT32_MIN, INT32_MAX));
}

// The item's text for a choice of 1 or more within the list, or nothing.
std::optional<std::string> ChosenItem(const std::vector<std::string>& items, int choice) {
    if (choice <= 0 || choice >= static_cast<int>(items.size()))
        return std::nullopt;
    return items[choice];
}

// The other side of a picture one side of which was chosen, so that the picture keeps the
// source's shape as it is shown (its sample aspect included), rounded to an even number as
// encoders want it. Nothing when the source's size is unknown.
std::optional<int> SideKeepingAspect(int side, const VideoStreamInfo& video, bool fromHeight) {
    if (video.Width <= 0 || video.Height <= 0 || side <= 0)
        return std::nullopt;
    double aspect = video.DisplayAspect > 0
                        ? video.DisplayAspect
                        : static_cast<double>(video.Width) / static_cast<double>(video.Height);
    // Pictures shown turned a quarter turn are upright the other way round.
    if (video.Rotation == 90 || video.Rotation == 270)
        aspect = 1.0 / aspect;
    const double other = fromHeight ? side * aspect : side / aspect;
    return std::max(2, static_cast<int>(std::lround(other / 2.0)) * 2);
}

// The probe is asked only for what is needed, once.
class SourceValues {
public:
    explicit SourceValues(const TAVProbe& probe) : probe_(probe) {}
    const AudioStreamInfo& Audio() {
        if (!audio_)
            audio_ = probe_.AudioInfo(-1);
        return *audio_;
    }
    const VideoStreamInfo& Video() {
        if (!video_)
            video_ = probe_.VideoInfo(-1);
        return *video_;
    }

private:
    const TAVProbe& probe_;
    std::optional<AudioStreamInfo> audio_;
    std::optional<VideoStreamInfo> video_;
};

} // namespace

TOutputOptions BuildOutputOptions(const std::string& presetText, const TAVProbe& source,
                                  const TStoredChoices& choices) {
    TOutputOptions o;
    SourceValues values(source);

    // Audio outputs get no video. Nor do sources without moving pictures: sound only (an .m4a,
    // .opus or .mka as much as an .mp3), an audio file's extension, or a picture attached to the
    // file (cover art) never makes a video; but a real video stream is kept whatever the
    // source's extension says (a Theora .ogg, say).
    std::string sourceExtension = std::filesystem::path(source.FileName()).extension().string();
    bool noMovingPictures = source.MovingVideoStreamCount() == 0;
    bool audioSource = IsAudioExtension(sourceExtension) && source.MovingVideoStreamCount() <= 0;
    if (PresetIsAudioOnly(presetText) || audioSource || noMovingPictures)
        o.DisableVideo = true;

    const TPreset* preset = FindPreset(presetText);
    if (preset && preset->Modern)
        return BuildModernOutputOptions(*preset, source, choices, o.DisableVideo);
    if (preset) {
        o.VideoCodec = SuccessorCodecName(preset->VideoCodec);
        o.AudioCodec = SuccessorCodecName(preset->AudioCodec);
        o.FrameSize = preset->FrameSize;
        o.FrameRate = preset->FrameRate;
        o.AudioChannels = preset->AudioChannels;
        o.AudioSampleRate = preset->AudioSampleRate;
        o.VideoBitRate = preset->VideoBitRate;
        o.AudioBitRate = preset->AudioBitRate;
    }

    // What the user chose is asked for; the preset's and the source's values are derived, and
    // the encoder may take the nearest value it can instead.
    o.AudioChannelsDerived = true;
    if (choices.AudioChannelChoice == 1 || choices.AudioChannelChoice == 2) {
        o.AudioChannels = choices.AudioChannelChoice;
        o.AudioChannelsDerived = false;
    } else if (o.AudioChannels == -1) {
        o.AudioChannels = values.Audio().Channels;
    }

    o.AudioSampleRateDerived = true;
    if (int rate = SampleRateOfChoice(choices.SampleRateChoice); rate > 0) {
        o.AudioSampleRate = rate;
        o.AudioSampleRateDerived = false;
    } else if (o.AudioSampleRate == -1) {
        o.AudioSampleRate = values.Audio().SampleRate;
    }

    o.AudioBitRateDerived = true;
    if (choices.AudioBitRateDefault) {
        if (o.AudioBitRate == -1)
            o.AudioBitRate = values.Audio().BitRate;
    } else if (std::optional<int32_t> bits = KbitText(choices.AudioBitRateText)) {
        o.AudioBitRate = *bits;
        o.AudioBitRateDerived = false;
    }

    if (o.DisableVideo)
        return o;

    if (auto aspect = ChosenItem(AspectItems(), choices.AspectChoice))
        o.FrameAspect = *aspect;
    if (auto rate = ChosenItem(FrameRateItems(), choices.FrameRateChoice))
        o.FrameRate = *rate;

    o.FrameSizeDerived = choices.ResolutionDefault;
    if (choices.ResolutionDefault) {
        if (o.FrameSize.empty())
            o.FrameSize =
                std::to_string(values.Video().Width) + "x" + std::to_string(values.Video().Height);
    } else {
        std::optional<int> width = ParseIntegerText(choices.WidthText);
        std::optional<int> height = ParseIntegerText(choices.HeightText);
        if (width && !height)
            height = SideKeepingAspect(*width, values.Video(), false);
        else if (height && !width)
            width = SideKeepingAspect(*height, values.Video(), true);
        o.FrameSize = width && height ? std::to_string(*width) + "x" + std::to_string(*height)
                                      : choices.WidthText + "x" + choices.HeightText;
    }

    if (choices.VideoBitRateDefault) {
        if (o.VideoBitRate == -1)
            o.VideoBitRate = 1500000;
    } else if (std::optional<int32_t> bits = KbitText(choices.VideoBitRateText)) {
        o.VideoBitRate = *bits;
    }
    return o;
}

TStoredChoices ChoicesForPreset(const std::string& presetText, const TStoredChoices& choices) {
    return PresetAcceptsOptions(presetText) ? choices : TStoredChoices{};
}

std::string CheckSourceFile(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return path + ": " + (errno == ENOENT ? "no such file or directory" : std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        return path + ": is a folder, not a file";
    if (!S_ISREG(info.st_mode))
        return path + ": not a regular file";
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return path + ": cannot be read: " + std::strerror(errno);
    close(fd);
    if (info.st_size == 0)
        return path + ": the file is empty";
    return "";
}

bool TConversionDriver::LoadLibraries(const std::string& directory) {
    return converter_.LoadAVLib(directory, true);
}

void TConversionDriver::LoadSources(std::vector<TBatchSource>& sources,
                                    const TBatchSettings& settings) {
    converter_.ClearTasks();
    TAVProbe& probe = converter_.Probe();
    probe.WatchStop(settings.Cancel);
    for (TBatchSource& source : sources) {
        source.Task = -1;
        source.OutputPath.clear();
        source.Error.clear();
        if (settings.Cancel && settings.Cancel->load())
            continue;
        source.Error = CheckSourceFile(source.Path);
        if (!source.Error.empty())
            continue;
        try {
            if (!probe.Open(source.Path)) {
                // A source whose opening was cut short by the cancel flag is not in error.
                source.Error = settings.Cancel && settings.Cancel->load() ? "" : probe.LastError();
                continue;
            }
        } catch (const std::exception& e) {
            source.Error = e.what();
            continue;
        }
        converter::TInputOptions input;
        input.FileName = source.Path;
        input.OverrideOptions = settings.InputExtOptions;
        source.Task = converter_.AddInputFile(source.Path, &input);
        if (source.Task < 0)
            source.Error = converter_.LastError();
        probe.Close();
        if (source.Task >= 0 && (source.Task + 1) % FilesPerReturn == 0)
            ReturnFreedMemory();
    }
    probe.WatchStop(nullptr);
}

void TConversionDriver::DropTask(std::vector<TBatchSource>& sources, TBatchSource& source,
                                 const std::string& reason) {
    int index = source.Task;
    converter_.RemoveTask(index);
    for (TBatchSource& other : sources)
        if (other.Task > index)
            --other.Task;
    source.Task = -1;
    source.Error = reason.empty() ? MSG_ERROR_FOUND : reason;
}

int TConversionDriver::ConfigureOutputs(std::vector<TBatchSource>& sources,
                                        const TBatchSettings& settings) {
    TOutputNamer namer(settings.ReserveOutputNames);
    for (TBatchSource& source : sources) {
        if (source.Task < 0)
            continue;
        const converter::TAVProbe& probe = *converter_.TaskProbe(source.Task);
        std::string sourcePath = converter_.TaskSourceName(source.Task);
        if (sourcePath.empty())
            sourcePath = source.Path;

        // A sound-only output of a source without sound would start and then find nothing to
        // write: it is refused with the others that cannot be set up.
        if (PresetIsAudioOnly(settings.PresetText) && probe.AudioStreamCount() == 0) {
            DropTask(sources, source, MSG_NO_SOUND);
            continue;
        }
        std::string error;
        std::string output = namer.Choose(sourcePath, settings.PresetText, settings.SameFolder,
                                          settings.OutputFolder, error);
        if (output.empty()) {
            DropTask(sources, source, error);
            continue;
        }
        if (namer.LastShortened())
            converter_.TaskLog(source.Task, 1,
                               "Output name shortened to fit the file system's name limit: " +
                                   std::filesystem::path(output).filename().string());
        TOutputOptions options = BuildOutputOptions(settings.PresetText, probe, settings.Choices);
        options.OverrideOptions = settings.OutputExtOptions;
        if (const TPreset* preset = FindPreset(settings.PresetText); preset && preset->Modern) {
            std::string missing = MissingEncoderReason(*preset, options);
            if (missing.empty())
                missing = TargetSizeReason(*preset, probe, settings.Choices, options);
            if (!missing.empty()) {
                DropTask(sources, source, missing);
                namer.ReleaseReservation(output);
                converter_.Probe().Close();
                continue;
            }
        }
        if (!converter_.SetOutputFile(source.Task, output, &options)) {
            DropTask(sources, source, converter_.LastError());
            namer.ReleaseReservation(output);
        } else {
            source.OutputPath = output;
        }
        converter_.Probe().Close();
        if (source.Task >= 0 && (source.Task + 1) % FilesPerReturn == 0)
            ReturnFreedMemory();
    }
    return converter_.TaskCount();
}

} // namespace mobivert::app
