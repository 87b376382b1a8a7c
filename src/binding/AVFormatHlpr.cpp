#include "binding/AVFormatHlpr.h"

namespace mobivert::binding {

LibraryBinder& AVFormatBinder() {
    static LibraryBinder binder("libavformat.so",
                                "libavformat.so." + std::to_string(LIBAVFORMAT_VERSION_MAJOR),
                                {MOBIVERT_AVFORMAT_ENTRIES(MOBIVERT_ENTRY_SLOT)});
    return binder;
}

} // namespace mobivert::binding
