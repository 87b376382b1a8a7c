// Bitstream filters for the next new stream of a type: each option appends one filter to the
// type's pending chain, written in FFmpeg's chain syntax ("name1,name2").

#include "binding/AVCodecHlpr.h"
#include "engine/options/ValueConversion.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

namespace mobivert::engine {

void TCustomFFmpeg::AddBitstreamFilter(const std::string& optionName, const std::string& value) {
    if (value.empty() || value[0] == '=')
        return;
    // Only the name counts; text after "=" is not handed to the filter.
    std::string name = value.substr(0, value.find('='));
    if (name.find('\0') != std::string::npos || !av::av_bsf_get_by_name(name.c_str()))
        throw FFMpegException("Unknown bitstream filter " + TrimControl(value));
    std::string& chain = optionName == "vbsf"   ? VideoBitstreamFilters
                         : optionName == "absf" ? AudioBitstreamFilters
                                                : SubtitleBitstreamFilters;
    if (!chain.empty())
        chain += ',';
    chain += name;
}

} // namespace mobivert::engine
