#pragma once
// Entry table of libswresample.

extern "C" {
#include <libswresample/swresample.h>
}

#include "binding/EntryTable.h"

#define MOBIVERT_SWRESAMPLE_ENTRIES(X)                                                             \
    X(swresample_version)                                                                          \
    X(swr_alloc_set_opts2)                                                                         \
    X(swr_init)                                                                                    \
    X(swr_is_initialized)                                                                          \
    X(swr_free)                                                                                    \
    X(swr_convert)                                                                                 \
    X(swr_set_compensation)                                                                        \
    X(swr_get_delay)                                                                               \
    X(swr_get_out_samples)

namespace av {
MOBIVERT_SWRESAMPLE_ENTRIES(MOBIVERT_DECLARE_ENTRY)
}

namespace mobivert::binding {
LibraryBinder& SwResampleBinder();
}
