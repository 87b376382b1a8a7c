#include "binding/SwResampleHlpr.h"

namespace mobivert::binding {

LibraryBinder& SwResampleBinder() {
    static LibraryBinder binder("libswresample.so",
                                "libswresample.so." + std::to_string(LIBSWRESAMPLE_VERSION_MAJOR),
                                {MOBIVERT_SWRESAMPLE_ENTRIES(MOBIVERT_ENTRY_SLOT)});
    return binder;
}

} // namespace mobivert::binding
