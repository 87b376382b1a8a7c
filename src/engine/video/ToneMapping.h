#pragma once
// HDR pictures (PQ or HLG transfer, BT.2020 primaries) made fit for outputs that only show SDR:
// turned into linear light, mapped into the range of a BT.709 display, and written back with
// the BT.709 transfer, primaries and matrix, so that a phone's HDR clip does not come out grey
// and washed out.

#include <string>

extern "C" {
#include <libavcodec/codec_par.h>
}

namespace mobivert::engine {

// True when the stream's pictures carry an HDR transfer.
bool CarriesHdrTransfer(const AVCodecParameters* par);
// The filters that map the stream's pictures to SDR BT.709 and back into pixelFormat; empty
// when libavfilter has no zscale (then the pictures keep their HDR values).
std::string ToneMapFilters(const AVCodecParameters* par, const char* pixelFormat);
// True when a filter chain description maps tones or colours itself.
bool ChainMapsTones(const std::string& description);

} // namespace mobivert::engine
