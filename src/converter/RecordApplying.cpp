#include "converter/RecordApplying.h"

#include <algorithm>

namespace mobivert::converter {

void ApplyInputRecord(engine::TCustomFFmpeg& task, const TInputOptions& options) {
    task.ApplyOptionText(options.ExtOptions);
    task.SetInputFormat(options.FileFormat);
    if (static_cast<int64_t>(options.StartTime) * 1000 > 0)
        task.SetStartTimeUs(static_cast<int64_t>(options.StartTime) * 1000);
    task.SetProgramId(options.ProgramNumber);
    task.ApplyOptionText(options.OverrideOptions);
}

namespace {

std::string Limited(const std::string& text, size_t characters) {
    return text.substr(0, std::min(text.find('\0'), characters));
}

} // namespace

void ApplyOutputRecord(engine::TCustomFFmpeg& task, const TOutputOptions& o) {
    auto generic = [&task](const char* name, int32_t value) {
        if (value > 0)
            task.SetGenericOptionInt(name, value);
    };
    task.ApplyOptionText(o.ExtOptions);
    task.SetOutputFormat(o.FileFormat);
    generic("packetsize", o.PacketSize);
    generic("muxrate", o.MuxRate);
    task.SetMuxMaxDelay(o.MuxDelay);
    task.SetMuxPreload(o.MuxPreload);
    task.SetAudioCodec(o.AudioCodec);
    if (o.DisableAudio)
        task.AudioDisable = 1;
    task.SetAudioVolume(o.AudioVolume);
    task.SetAudioChannels(o.AudioChannels);
    task.SetAudioSampleRate(o.AudioSampleRate);
    if (o.AudioChannels > 0 && o.AudioChannelsDerived)
        task.AudioChannelsDerived = true;
    if (o.AudioSampleRate > 0 && o.AudioSampleRateDerived)
        task.AudioSampleRateDerived = true;
    generic("ab", o.AudioBitRate);
    if (o.AudioBitRate > 0)
        task.AudioBitRateDerived = o.AudioBitRateDerived;
    generic("abt", o.AudioBitRateTolerance);
    task.AudioLanguage = o.AudioLanguage;
    task.SetAudioSyncMethod(o.AudioSync);
    task.SetAudioTag(o.AudioTag);
    task.SetVideoCodec(o.VideoCodec);
    if (o.DisableVideo)
        task.VideoDisable = 1;
    task.SetFrameRate(o.FrameRate);
    task.SetFrameSize(o.FrameSize);
    if (!o.FrameSize.empty() && o.FrameSizeDerived)
        task.FrameSizeDerived = true;
    task.SetFrameAspectRatio(o.FrameAspect);
    task.SetFrameCropTop(o.CropTop);
    task.SetFrameCropBottom(o.CropBottom);
    task.SetFrameCropLeft(o.CropLeft);
    task.SetFrameCropRight(o.CropRight);
    task.SetFramePadTop(o.PadTop);
    task.SetFramePadBottom(o.PadBottom);
    task.SetFramePadLeft(o.PadLeft);
    task.SetFramePadRight(o.PadRight);
    task.SetPadColor(static_cast<int32_t>(o.PadColor & 0xFFFFFF));
    generic("gop", o.GopSize);
    generic("vb", o.VideoBitRate);
    generic("maxrate", o.VideoMaxRate);
    generic("minrate", o.VideoMinRate);
    generic("bt", o.VideoBitRateTolerance);
    generic("bufsize", o.VideoBufSize);
    task.SetVideoSyncMethod(o.VideoSync);
    task.SetVideoTag(o.VideoTag);
    task.SetVideoFilters(o.VideoFilters);
    if (o.DisableSubtitle)
        task.SubtitleDisable = 1;
    task.SubtitleLanguage = o.SubtitleLanguage;
    task.CopyTs = o.CopyTimestamps;
    task.SetRecordingTimeMs(o.Duration);
    if (o.Timestamp >= 0.0)
        task.RecTimestamp = TimestampToUnixSeconds(o.Timestamp);
    task.SetMetaYear(o.Year);
    task.SetMetaTrack(o.Track);
    task.SetMetaTitle(Limited(o.Title, 511));
    task.SetMetaAuthor(Limited(o.Author, 511));
    task.SetMetaCopyright(Limited(o.Copyright, 511));
    task.SetMetaComment(Limited(o.Comment, 511));
    task.SetMetaAlbum(Limited(o.Album, 511));
    task.SetMetaGenre(Limited(o.Genre, 31));
    if (o.Target >= 1 && o.Target <= 3)
        task.SetTarget(TargetName(o.Target), TargetNormName(o.TargetNorm),
                       TargetFallbackNormName(o.TargetFallbackNorm));
    task.ApplyOptionText(o.OverrideOptions);
    if (!o.CustomHook && !o.BeforeHook)
        task.SetHookTimeRanges(ParseHookRanges(o.HookRanges));
}

} // namespace mobivert::converter
