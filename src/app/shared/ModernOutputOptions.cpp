#include "app/shared/ModernOutputOptions.h"

#include "app/shared/TargetSize.h"
#include "converter/CodecSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace mobivert::app {

using converter::AudioStreamInfo;
using converter::TOutputOptions;
using converter::VideoStreamInfo;

namespace {

int EvenSide(double side) {
    return std::max(2, static_cast<int>(std::lround(side / 2.0)) * 2);
}

// The source's pictures as they are shown: the sample aspect applied, turned upright.
void ShownSize(const VideoStreamInfo& video, double& width, double& height) {
    height = video.Height;
    width = video.DisplayAspect > 0 ? video.DisplayAspect * video.Height : video.Width;
    if (video.Rotation == 90 || video.Rotation == 270)
        std::swap(width, height);
}

void ChooseSize(TOutputOptions& o, const VideoStreamInfo& video, const TStoredChoices& choices) {
    const std::string sourceSize = std::to_string(video.Width) + "x" + std::to_string(video.Height);
    o.FrameSize = sourceSize;
    o.FrameSizeDerived = true;
    int boxWidth = 0, boxHeight = 0;
    if (!ModernSizeOfChoice(choices.ModernSizeChoice, boxWidth, boxHeight) || video.Width <= 0 ||
        video.Height <= 0)
        return;
    double width = 0, height = 0;
    ShownSize(video, width, height);
    int fitWidth = 0, fitHeight = 0;
    FitIntoBox(width, height, boxWidth, boxHeight, fitWidth, fitHeight);
    if (fitWidth < std::lround(width) || fitHeight < std::lround(height))
        o.FrameSize = std::to_string(fitWidth) + "x" + std::to_string(fitHeight);
}

// The source's average rate, exactly as a fraction.
std::string SourceFrameRate(const VideoStreamInfo& video) {
    if (video.AverageRateNum > 0 && video.AverageRateDen > 0)
        return std::to_string(video.AverageRateNum) + "/" + std::to_string(video.AverageRateDen);
    return "";
}

// The video encoder's options: its speed, then constant quality or nothing (a bit rate).
std::string VideoRateLines(const TPreset& preset, bool fallback, const TStoredChoices& choices) {
    std::string lines = fallback ? preset.FallbackEncoderOptions : preset.VideoEncoderOptions;
    if (choices.RateControlChoice == RATE_QUALITY) {
        // A number chosen for a preset that takes larger ones is held to this one's largest.
        std::optional<int> chosen = ParseIntegerText(choices.QualityText);
        const int quality =
            chosen ? std::clamp(*chosen, 0, preset.MaxQuality) : preset.DefaultQuality;
        // Without a bit rate the encoders code at the quality alone, not at a quality capped
        // by their default rate.
        lines += "\ncrf=" + std::to_string(quality) + "\nb=0";
    }
    return lines;
}

// The picture size and rate of an output record (25 fps when the rate is not known).
bool PictureGeometry(const std::string& size, const std::string& rate, int& width, int& height,
                     double& fps) {
    fps = 25;
    int num = 0, den = 1;
    if (std::sscanf(rate.c_str(), "%d/%d", &num, &den) == 2 && num > 0 && den > 0)
        fps = static_cast<double>(num) / den;
    else if (!rate.empty() && std::atof(rate.c_str()) > 0)
        fps = std::atof(rate.c_str());
    return std::sscanf(size.c_str(), "%dx%d", &width, &height) == 2 && width > 0 && height > 0;
}

// A bit rate for a video without one chosen: a tenth of a bit for each pixel of each picture.
int32_t EstimatedVideoBitRate(const std::string& size, const std::string& rate) {
    int width = 0, height = 0;
    double fps = 25;
    if (!PictureGeometry(size, rate, width, height, fps))
        return 1500000;
    return static_cast<int32_t>(std::clamp(width * height * fps * 0.1, 100000.0, 50000000.0));
}

// The source's length in seconds; 0 when it is not known.
double SourceSeconds(const converter::TAVProbe& source) {
    const int64_t duration = source.Container().DurationUs;
    if (duration > 0)
        return static_cast<double>(duration) / 1e6;
    const VideoStreamInfo video = source.VideoInfo(-1);
    return video.DurationScaled > 0 ? static_cast<double>(video.DurationScaled) / 1e6 : 0.0;
}

// The bit rate the output's sound will take: the one asked of its encoder, a copied stream's
// own, or an estimate for an encoder left at its quality.
int64_t OutputAudioBitRate(const TOutputOptions& o, const converter::TAVProbe& source) {
    if (o.DisableAudio || source.AudioStreamCount() <= 0)
        return 0;
    if (o.AudioCodec == "copy") {
        const AudioStreamInfo audio = source.AudioInfo(-1);
        return audio.BitRate > 0 ? audio.BitRate : 192000;
    }
    return o.AudioBitRate > 0 ? o.AudioBitRate : 128000;
}

// The plan for the record's target size; nullopt when the source's length is not known.
std::optional<TTargetSizePlan> PlanFor(const TPreset& preset, const TOutputOptions& o,
                                       const converter::TAVProbe& source,
                                       const TStoredChoices& choices) {
    const std::optional<int64_t> bytes = ParseTargetSize(choices.TargetSizeText);
    const double seconds = SourceSeconds(source);
    if (!bytes || seconds <= 0)
        return std::nullopt;
    int width = 0, height = 0;
    double fps = 25;
    PictureGeometry(o.FrameSize, o.FrameRate, width, height, fps);
    return PlanTargetSize(*bytes, seconds, OutputAudioBitRate(o, source), width, height, fps,
                          preset.LeastBitsPerPixel);
}

void ChooseVideo(TOutputOptions& o, const TPreset& preset, const converter::TAVProbe& source,
                 const TStoredChoices& choices) {
    const VideoStreamInfo video = source.VideoInfo(-1);
    const bool fallback = !converter::EncoderAvailable(preset.VideoCodec) &&
                          *preset.FallbackVideoCodec &&
                          converter::EncoderAvailable(preset.FallbackVideoCodec);
    o.VideoCodec = fallback ? preset.FallbackVideoCodec : preset.VideoCodec;
    o.VideoTag = preset.VideoTag;
    o.VideoSync = 1; // constant frame rate
    const auto& aspects = AspectItems();
    if (choices.AspectChoice > 0 && choices.AspectChoice < static_cast<int>(aspects.size()))
        o.FrameAspect = aspects[choices.AspectChoice];
    const auto& rates = ModernFrameRateItems();
    o.FrameRate = choices.ModernFrameRateChoice > 0 &&
                          choices.ModernFrameRateChoice < static_cast<int>(rates.size())
                      ? rates[choices.ModernFrameRateChoice]
                      : SourceFrameRate(video);
    ChooseSize(o, video, choices);
    o.ExtOptions += "\n" + VideoRateLines(preset, fallback, choices);
    // A target size needs the software encoder's rate control.
    if (preset.HardwareEncoders && choices.HardwareEncoding &&
        choices.RateControlChoice != RATE_TARGET_SIZE)
        o.ExtOptions += "\nhwenc=auto";
    // Otherwise the engine gives text subtitles the container's own codec and leaves others.
    if (preset.CopySubtitlesWhenHeld && converter::ContainerHoldsEverySubtitle(
                                            source.FormatContext(), PresetExtension(preset.Text)))
        o.ExtOptions += "\nscodec=copy";
    if (choices.RateControlChoice == RATE_TARGET_SIZE) {
        // A plan that does not fit is refused before the batch (TargetSizeReason).
        std::optional<TTargetSizePlan> plan = PlanFor(preset, o, source, choices);
        o.VideoBitRate =
            static_cast<int32_t>(std::clamp<int64_t>(plan ? plan->VideoBitRate : 0, 1, INT32_MAX));
        o.TwoPass = preset.TargetSizeCoding == ETargetSizeCoding::TwoPasses;
        o.TargetSize = ParseTargetSize(choices.TargetSizeText).value_or(0);
        const char* lines =
            fallback ? preset.FallbackTargetSizeEncoderOptions : preset.TargetSizeEncoderOptions;
        if (*lines)
            o.ExtOptions += std::string("\n") + lines;
    } else if (choices.RateControlChoice == RATE_BIT_RATE) {
        std::optional<int> kbit =
            choices.VideoBitRateDefault ? std::nullopt : ParseIntegerText(choices.VideoBitRateText);
        o.VideoBitRate = kbit ? static_cast<int32_t>(std::clamp<int64_t>(
                                    static_cast<int64_t>(*kbit) * 1000, INT32_MIN, INT32_MAX))
                              : EstimatedVideoBitRate(o.FrameSize, o.FrameRate);
    }
}

bool AudioChoiceMade(const TStoredChoices& choices) {
    return choices.ModernChannelChoice > 0 || choices.ModernSampleRateChoice > 0 ||
           !choices.AudioBitRateDefault;
}

void ChooseAudio(TOutputOptions& o, const TPreset& preset, const AudioStreamInfo& audio,
                 const TStoredChoices& choices) {
    o.AudioCodec = preset.AudioCodec;
    const bool deep =
        audio.SampleFormat == AV_SAMPLE_FMT_S32 || audio.SampleFormat == AV_SAMPLE_FMT_S32P;
    o.ExtOptions = deep && *preset.DeepAudioEncoderOptions ? preset.DeepAudioEncoderOptions
                                                           : preset.AudioEncoderOptions;
    if (preset.CopyAudioWhenHeld && !AudioChoiceMade(choices) &&
        converter::ContainerHoldsCodec(PresetExtension(preset.Text), audio.CodecName)) {
        o.AudioCodec = "copy";
        return;
    }
    o.AudioChannels = ModernChannelsOfChoice(choices.ModernChannelChoice);
    o.AudioChannelsDerived = o.AudioChannels <= 0;
    if (o.AudioChannelsDerived)
        o.AudioChannels = audio.Channels;
    o.AudioSampleRate = ModernSampleRateOfChoice(choices.ModernSampleRateChoice);
    o.AudioSampleRateDerived = o.AudioSampleRate <= 0;
    if (o.AudioSampleRateDerived)
        o.AudioSampleRate = preset.AudioSampleRate > 0 ? preset.AudioSampleRate : audio.SampleRate;
    o.AudioBitRateDerived = choices.AudioBitRateDefault;
    if (!choices.AudioBitRateDefault) {
        if (std::optional<int> kbit = ParseIntegerText(choices.AudioBitRateText))
            o.AudioBitRate = static_cast<int32_t>(
                std::clamp<int64_t>(static_cast<int64_t>(*kbit) * 1000, INT32_MIN, INT32_MAX));
    } else if (preset.AudioQuality >= 0) {
        o.ExtOptions += "\naq=" + std::to_string(preset.AudioQuality);
    } else if (preset.AudioBitRatePerChannel > 0 && o.AudioChannels > 0) {
        o.AudioBitRate = preset.AudioBitRatePerChannel * o.AudioChannels;
    }
}

// "1:05:09" or "0:03" (rounded up to whole seconds).
std::string DurationText(double seconds) {
    const auto whole = static_cast<int64_t>(std::ceil(seconds));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(whole / 3600),
                      static_cast<long long>(whole / 60 % 60), static_cast<long long>(whole % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(whole / 60),
                      static_cast<long long>(whole % 60));
    return text;
}

} // namespace

void FitIntoBox(double width, double height, int boxWidth, int boxHeight, int& fitWidth,
                int& fitHeight) {
    if ((width < height) != (boxWidth < boxHeight))
        std::swap(boxWidth, boxHeight);
    const double scale = std::min({1.0, boxWidth / width, boxHeight / height});
    fitWidth = std::min(EvenSide(width * scale), boxWidth);
    fitHeight = std::min(EvenSide(height * scale), boxHeight);
}

TOutputOptions BuildModernOutputOptions(const TPreset& preset, const converter::TAVProbe& source,
                                        const TStoredChoices& choices, bool noVideo) {
    TOutputOptions o;
    o.DisableVideo = noVideo;
    ChooseAudio(o, preset, source.AudioInfo(-1), choices);
    if (!noVideo)
        ChooseVideo(o, preset, source, choices);
    return o;
}

std::string TargetSizeReason(const TPreset& preset, const converter::TAVProbe& source,
                             const TStoredChoices& choices, const TOutputOptions& options) {
    if (choices.RateControlChoice != RATE_TARGET_SIZE || options.DisableVideo)
        return "";
    if (preset.TargetSizeCoding == ETargetSizeCoding::None)
        return PresetName(preset.Text) +
               " cannot code to a target size; choose a quality or a bit rate";
    std::optional<TTargetSizePlan> plan = PlanFor(preset, options, source, choices);
    if (!plan)
        return "its length is not known, so a target size cannot be reached";
    if (!plan->Fits)
        return "the target size " + choices.TargetSizeText + " is too small for " +
               DurationText(SourceSeconds(source)) + " of video: at least " +
               SizeText(plan->SmallestBytes) + " is needed";
    return "";
}

std::string MissingEncoderReason(const TPreset& preset, const TOutputOptions& options) {
    std::string missing;
    if (!options.DisableVideo && !converter::EncoderAvailable(options.VideoCodec))
        missing = options.VideoCodec;
    else if (!options.DisableAudio && options.AudioCodec != "copy" &&
             !converter::EncoderAvailable(options.AudioCodec))
        missing = options.AudioCodec;
    if (missing.empty())
        return "";
    std::string reason = PresetName(preset.Text) + " needs the " + missing + " encoder";
    if (!options.DisableVideo && missing == options.VideoCodec && *preset.FallbackVideoCodec)
        reason += std::string(" (or ") + preset.FallbackVideoCodec + ")";
    return reason + ", which the FFmpeg libraries in use do not have";
}

} // namespace mobivert::app
