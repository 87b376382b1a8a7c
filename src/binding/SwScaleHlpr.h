#pragma once
// Entry table of libswscale.

extern "C" {
#include <libswscale/swscale.h>
}

#include "binding/EntryTable.h"

#define MOBIVERT_SWSCALE_ENTRIES(X)                                                                \
    X(swscale_version)                                                                             \
    X(sws_get_class)                                                                               \
    X(sws_getContext)                                                                              \
    X(sws_getCachedContext)                                                                        \
    X(sws_freeContext)                                                                             \
    X(sws_scale)

namespace av {
MOBIVERT_SWSCALE_ENTRIES(MOBIVERT_DECLARE_ENTRY)
}

namespace mobivert::binding {
LibraryBinder& SwScaleBinder();
}
