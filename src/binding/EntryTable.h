#pragma once
// Helpers for the entry tables: every FFmpeg function the program calls is a pointer in namespace
// av, typed from the library's own header and filled when its library is bound.

#include "binding/LibraryBinder.h"

#define MOBIVERT_DECLARE_ENTRY(name) inline decltype(&::name) name = nullptr;

#define MOBIVERT_ENTRY_SLOT(name)                                                                  \
    ::mobivert::binding::EntrySlot{#name, [](void* address) {                                      \
                                       ::av::name =                                                \
                                           reinterpret_cast<decltype(::av::name)>(address);        \
                                   }},
