#include "converter/CodecSupport.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"

namespace mobivert::converter {

bool EncoderAvailable(const std::string& encoder) {
    return binding::AVLibsLoaded() && !encoder.empty() &&
           av::avcodec_find_encoder_by_name(encoder.c_str()) != nullptr;
}

namespace {

bool Holds(const std::string& extension, AVCodecID codec) {
    const std::string file = "x" + extension;
    const AVOutputFormat* format = av::av_guess_format(nullptr, file.c_str(), nullptr);
    return format && av::avformat_query_codec(format, codec, FF_COMPLIANCE_NORMAL) == 1;
}

} // namespace

bool ContainerHoldsCodec(const std::string& extension, const std::string& codecName) {
    if (!binding::AVLibsLoaded() || codecName.empty())
        return false;
    const AVCodec* decoder = av::avcodec_find_decoder_by_name(codecName.c_str());
    return decoder && Holds(extension, decoder->id);
}

bool ContainerHoldsEverySubtitle(const AVFormatContext* source, const std::string& extension) {
    if (!binding::AVLibsLoaded() || !source)
        return false;
    int subtitles = 0;
    for (unsigned i = 0; i < source->nb_streams; ++i) {
        const AVCodecParameters* par = source->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        if (!Holds(extension, par->codec_id))
            return false;
        ++subtitles;
    }
    return subtitles > 0;
}

} // namespace mobivert::converter
