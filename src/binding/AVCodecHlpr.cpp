#include "binding/AVCodecHlpr.h"

namespace mobivert::binding {

LibraryBinder& AVCodecBinder() {
    static LibraryBinder binder("libavcodec.so",
                                "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR),
                                {MOBIVERT_AVCODEC_ENTRIES(MOBIVERT_ENTRY_SLOT)});
    return binder;
}

} // namespace mobivert::binding
