// The sample rate and channel layout an audio encoder is opened with. The output stream asks for
// the values of the options or of the source; an encoder that takes only some rates or layouts
// gets the nearest one it takes instead of failing to open.

#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/FFmpeg.h"
#include "engine/transcode/TranscodeSteps.h"

namespace mobivert::engine {

namespace {

// Speech codecs whose encoders take a single rate and mono without listing them.
struct FixedFormat {
    AVCodecID Id;
    int Rate;
};
constexpr FixedFormat FixedFormats[] = {{AV_CODEC_ID_AMR_NB, 8000}, {AV_CODEC_ID_AMR_WB, 16000}};

const FixedFormat* FindFixedFormat(AVCodecID id) {
    for (const FixedFormat& format : FixedFormats)
        if (format.Id == id)
            return &format;
    return nullptr;
}

// The highest listed rate not above the requested one, else the lowest above it; 0 when the
// requested rate is listed. The list ends with 0.
int NearestRate(const int* rates, int requested) {
    int below = 0;
    int above = 0;
    for (const int* rate = rates; *rate; ++rate) {
        if (*rate == requested)
            return 0;
        if (*rate<requested&& * rate> below)
            below = *rate;
        if (*rate > requested && (above == 0 || *rate < above))
            above = *rate;
    }
    return below ? below : above;
}

// The listed layout to use instead of the requested one, or nullptr when the requested one is
// listed. A listed layout with the same channel count wins; otherwise an encoder that takes
// only mono gets mono, and any other gets stereo (or its first layout when it has no stereo).
const AVChannelLayout* NearestLayout(const AVChannelLayout* layouts,
                                     const AVChannelLayout& requested) {
    const AVChannelLayout* sameCount = nullptr;
    const AVChannelLayout* stereo = nullptr;
    bool onlyMono = true;
    for (const AVChannelLayout* layout = layouts; layout->nb_channels; ++layout) {
        if (av::av_channel_layout_compare(layout, &requested) == 0)
            return nullptr;
        if (!sameCount && layout->nb_channels == requested.nb_channels)
            sameCount = layout;
        if (!stereo && layout->nb_channels == 2)
            stereo = layout;
        onlyMono = onlyMono && layout->nb_channels == 1;
    }
    if (sameCount)
        return sameCount;
    if (onlyMono || !stereo)
        return layouts;
    return stereo;
}

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

    const FixedFormat* fixed = FindFixedFormat(enc->codec_id);
    const int fixedRates[] = {fixed ? fixed->Rate : 0, 0};
    AVChannelLayout fixedLayouts[2] = {};
    av::av_channel_layout_default(&fixedLayouts[0], 1);
    const int* rates = fixed ? fixedRates : codec->supported_samplerates;
    const AVChannelLayout* layouts = fixed ? fixedLayouts : codec->ch_layouts;

    if (rates) {
        if (int rate = NearestRate(rates, enc->sample_rate)) {
            if (report)
                Log(1, Format("Audio encoder %s does not take %d Hz: using %d Hz", codec->name,
                              enc->sample_rate, rate));
            enc->sample_rate = rate;
        }
    }
    enc->time_base = AVRational{1, enc->sample_rate};

    if (layouts) {
        if (const AVChannelLayout* layout = NearestLayout(layouts, enc->ch_layout)) {
            if (report)
                Log(1, Format("Audio encoder %s does not take %s audio: using %s", codec->name,
                              Describe(enc->ch_layout).c_str(), Describe(*layout).c_str()));
            av::av_channel_layout_uninit(&enc->ch_layout);
            av::av_channel_layout_copy(&enc->ch_layout, layout);
        }
    }
}

} // namespace mobivert::engine
