#include "converter/CodecSupport.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"

namespace mobivert::converter {

bool EncoderAvailable(const std::string& encoder) {
    return binding::AVLibsLoaded() && !encoder.empty() &&
           av::avcodec_find_encoder_by_name(encoder.c_str()) != nullptr;
}

bool ContainerHoldsCodec(const std::string& extension, const std::string& codecName) {
    if (!binding::AVLibsLoaded() || codecName.empty())
        return false;
    const AVCodec* decoder = av::avcodec_find_decoder_by_name(codecName.c_str());
    const std::string file = "x" + extension;
    const AVOutputFormat* format = av::av_guess_format(nullptr, file.c_str(), nullptr);
    return decoder && format &&
           av::avformat_query_codec(format, decoder->id, FF_COMPLIANCE_NORMAL) == 1;
}

} // namespace mobivert::converter
