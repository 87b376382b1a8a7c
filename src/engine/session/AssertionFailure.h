#pragma once
// A failed internal check on a value: raised like any other refusal of the engine, with the
// position of the check in the source appended to its message.

#include "engine/session/FFMpegException.h"

#include <string>

namespace mobivert::engine {

class EAssertionFailed : public FFMpegException {
public:
    using FFMpegException::FFMpegException;
};

// Raises EAssertionFailed with "<message> (<file>, line <n>)".
[[noreturn]] inline void FailAssertion(const std::string& message, const char* file, int line) {
    std::string name = file;
    size_t slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    throw EAssertionFailed(message + " (" + name + ", line " + std::to_string(line) + ")");
}

} // namespace mobivert::engine

// Checks a condition; a failure names the check's place in the source.
#define MOBIVERT_ASSERT(condition, message)                                                        \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::mobivert::engine::FailAssertion((message), __FILE__, __LINE__);                      \
    } while (0)
