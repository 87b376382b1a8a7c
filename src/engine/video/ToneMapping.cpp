#include "engine/video/ToneMapping.h"

#include "binding/AVFilterHlpr.h"
#include "binding/AVLibs.h"

#include <algorithm>
#include <cctype>

namespace mobivert::engine {

namespace {

// zscale's names of the source's colour description.
const char* TransferName(AVColorTransferCharacteristic trc) {
    return trc == AVCOL_TRC_ARIB_STD_B67 ? "arib-std-b67" : "smpte2084";
}

const char* MatrixName(AVColorSpace space) {
    switch (space) {
    case AVCOL_SPC_BT2020_CL:
        return "2020_cl";
    case AVCOL_SPC_BT709:
        return "709";
    default:
        return "2020_ncl";
    }
}

const char* PrimariesName(AVColorPrimaries primaries) {
    return primaries == AVCOL_PRI_BT709 ? "709" : "2020";
}

} // namespace

bool CarriesHdrTransfer(const AVCodecParameters* par) {
    return par->color_trc == AVCOL_TRC_SMPTE2084 || par->color_trc == AVCOL_TRC_ARIB_STD_B67;
}

std::string ToneMapFilters(const AVCodecParameters* par, const char* pixelFormat) {
    std::string error;
    if (!pixelFormat || !binding::LoadAVFilter(error) || !av::avfilter_get_by_name("zscale") ||
        !av::avfilter_get_by_name("tonemap"))
        return {};
    const std::string range = par->color_range == AVCOL_RANGE_JPEG ? "pc" : "tv";
    // Linear light with 100 cd/m2 as 1.0, BT.709 primaries, Mobius's curve (linear up to near
    // the SDR peak, then the highlights rolled off, so an SDR-range picture keeps its contrast
    // and colours), then the BT.709 transfer and matrix in the picture's own format for what
    // follows.
    return std::string("zscale=tin=") + TransferName(par->color_trc) +
           ":min=" + MatrixName(par->color_space) + ":pin=" + PrimariesName(par->color_primaries) +
           ":rin=" + range + ":t=linear:npl=100,format=gbrpf32le,zscale=p=709," +
           "tonemap=tonemap=mobius,zscale=t=709:m=709:r=" + range + ",format=" + pixelFormat;
}

bool ChainMapsTones(const std::string& description) {
    std::string lower = description;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* name : {"tonemap", "zscale", "colorspace"})
        if (lower.find(name) != std::string::npos)
            return true;
    return false;
}

} // namespace mobivert::engine
