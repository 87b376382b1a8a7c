// Codec choices of the next output streams: codec names or stream copy, forced codec tags,
// bit rates, hardware encoding, audio rate and channels.

#include "binding/AVUtilHlpr.h"
#include "engine/session/AssertionFailure.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

namespace mobivert::engine {

namespace {

// "copy" asks for a stream copy and leaves the name empty; any other name replaces the
// previous one without touching the copy flag.
void SetCodecName(const std::string& name, std::string& codecName, int32_t& streamCopy) {
    if (name.empty())
        return;
    codecName.clear();
    if (name == "copy")
        streamCopy = 1;
    else
        codecName = name;
}

// The four characters of a codec tag, the first in the lowest byte.
int32_t FourCC(const std::string& tag) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(tag[i]);
    return static_cast<int32_t>(value);
}

} // namespace

void TCustomFFmpeg::SetVideoCodec(const std::string& name) {
    SetCodecName(name, VideoCodecName, VideoStreamCopy);
}
void TCustomFFmpeg::SetAudioCodec(const std::string& name) {
    SetCodecName(name, AudioCodecName, AudioStreamCopy);
}
void TCustomFFmpeg::SetSubtitleCodec(const std::string& name) {
    SetCodecName(name, SubtitleCodecName, SubtitleStreamCopy);
}

void TCustomFFmpeg::SetVideoTag(const std::string& tag) {
    if (tag.empty())
        return;
    MOBIVERT_ASSERT(tag.size() == 4, "video tag parameter must be 4 chars");
    VideoCodecTag = FourCC(tag);
}

void TCustomFFmpeg::SetAudioTag(const std::string& tag) {
    if (tag.empty())
        return;
    MOBIVERT_ASSERT(tag.size() == 4, "audio tag parameter must be 4 chars");
    AudioCodecTag = FourCC(tag);
}

void TCustomFFmpeg::SetBitRate(const std::string& name, const std::string& value) {
    if (name == "ab")
        AudioBitRateDerived = false;
    if (!SetGenericOption(name, value) || !OnLog)
        return;
    // Bit rates are given in bit/s; a small number was probably meant as kbit/s (0 asks for
    // none: the encoder codes at its quality).
    AVCodecContext* holder =
        CodecOptContexts[name == "ab" ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO];
    int64_t bitRate = 0;
    if (holder && av::av_opt_get_int(holder, "b", 0, &bitRate) >= 0 && bitRate > 0 &&
        bitRate < 1000)
        Log(1, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not "
               "kbits/s");
}

void TCustomFFmpeg::SetHardwareEncoding(const std::string& choice) {
    if (choice != "auto" && choice != "off")
        throw FFMpegException("hwenc takes auto or off");
    HardwareEncoding = choice == "auto";
}

void TCustomFFmpeg::SetAudioSampleRate(int32_t rate) {
    if (rate > 0) {
        AudioSampleRate = rate;
        AudioSampleRateDerived = false;
    }
}

void TCustomFFmpeg::SetAudioChannels(int32_t channels) {
    if (channels > 0) {
        AudioChannels = channels;
        AudioChannelsDerived = false;
    }
}

} // namespace mobivert::engine
