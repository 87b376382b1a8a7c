// The sample rate and channel layout an audio encoder is opened with. The output stream asks for
// the values of the options or of the source; an encoder that takes only some rates or layouts
// gets the nearest one it takes instead of failing to open. (Values the user asked for and the
// encoder refuses have already refused the output when its stream was made.)

#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/open/EncoderLimits.h"
#include "engine/session/FFmpeg.h"
#include "engine/transcode/TranscodeSteps.h"

namespace mobivert::engine {

namespace {

std::string Describe(const AVChannelLayout& layout) {
    char text[128] = {};
    if (av::av_channel_layout_describe(&layout, text, sizeof text) < 0)
        return std::to_string(layout.nb_channels) + " channels";
    return text;
}

} // namespace

void TCustomFFmpeg::ChooseAudioEncoderFormat(OutputStream& ost) {
    AVCodecContext* enc = ost.Enc;
    const AVCodec* codec = enc->codec ? enc->codec : av::avcodec_find_encoder(enc->codec_id);
    if (!codec || enc->sample_rate <= 0 || enc->ch_layout.nb_channels <= 0)
        return;
    const bool report = Verbose >= 0 && OnLog;

    // A bare channel count is read as the usual layout for that count.
    if (enc->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        int channels = enc->ch_layout.nb_channels;
        av::av_channel_layout_uninit(&enc->ch_layout);
        av::av_channel_layout_default(&enc->ch_layout, channels);
    }

    if (int rate = NearestSampleRate(codec, enc->sample_rate)) {
        if (report)
            Log(1, Format("Audio encoder %s does not take %d Hz: using %d Hz", codec->name,
                          enc->sample_rate, rate));
        enc->sample_rate = rate;
    }
    enc->time_base = AVRational{1, enc->sample_rate};

    if (std::optional<AVChannelLayout> layout = NearestChannelLayout(codec, enc->ch_layout)) {
        if (report)
            Log(1, Format("Audio encoder %s does not take %s audio: using %s", codec->name,
                          Describe(enc->ch_layout).c_str(), Describe(*layout).c_str()));
        av::av_channel_layout_uninit(&enc->ch_layout);
        av::av_channel_layout_copy(&enc->ch_layout, &*layout);
    }

    // A bit rate handed on from the source is held to what the encoder is made for, at the
    // channel count it codes; one the user asked for is the encoder's to take or refuse.
    const int64_t highest = HighestDerivedBitRate(codec->id, enc->ch_layout.nb_channels);
    if (AudioBitRateDerived && highest > 0 && enc->bit_rate > highest) {
        if (report)
            Log(1, Format("Audio encoder %s codes %d channels at most at %lld bit/s: using %lld "
                          "bit/s instead of %lld bit/s",
                          codec->name, enc->ch_layout.nb_channels, static_cast<long long>(highest),
                          static_cast<long long>(highest), static_cast<long long>(enc->bit_rate)));
        enc->bit_rate = highest;
    }
}

} // namespace mobivert::engine
