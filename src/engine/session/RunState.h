#pragma once
// What a run of a session counts as it goes and how it ended. The run writes it on the thread
// it runs on; the owner reads it after the session's end event.

#include <cstdint>
#include <string>

namespace mobivert::engine {

struct TRunState {
    int64_t VideoSize = 0;
    int64_t AudioSize = 0;
    int64_t ExtraSize = 0;
    int32_t FramesDup = 0;
    int32_t FramesDrop = 0;
    bool Failed = false;
    std::string ErrorMessage;
};

} // namespace mobivert::engine
