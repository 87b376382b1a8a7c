#include "binding/AVUtilHlpr.h"

namespace mobivert::binding {

LibraryBinder& AVUtilBinder() {
    static LibraryBinder binder("libavutil.so",
                                "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR),
                                {MOBIVERT_AVUTIL_ENTRIES(MOBIVERT_ENTRY_SLOT)});
    return binder;
}

} // namespace mobivert::binding
