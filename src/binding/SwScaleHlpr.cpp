#include "binding/SwScaleHlpr.h"

namespace mobivert::binding {

LibraryBinder& SwScaleBinder() {
    static LibraryBinder binder("libswscale.so",
                                "libswscale.so." + std::to_string(LIBSWSCALE_VERSION_MAJOR),
                                {MOBIVERT_SWSCALE_ENTRIES(MOBIVERT_ENTRY_SLOT)});
    return binder;
}

} // namespace mobivert::binding
