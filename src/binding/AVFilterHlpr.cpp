#include "binding/AVFilterHlpr.h"

namespace mobivert::binding {

LibraryBinder& AVFilterBinder() {
    static LibraryBinder binder("libavfilter.so",
                                "libavfilter.so." + std::to_string(LIBAVFILTER_VERSION_MAJOR),
                                {MOBIVERT_AVFILTER_ENTRIES(MOBIVERT_ENTRY_SLOT)});
    return binder;
}

} // namespace mobivert::binding
