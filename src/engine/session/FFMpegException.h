#pragma once
// The one exception class of the engine: its message is the failure text that ends a run or
// refuses an option.

#include <stdexcept>
#include <string>

namespace mobivert::engine {

class FFMpegException : public std::runtime_error {
public:
    explicit FFMpegException(const std::string& message) : std::runtime_error(message) {}
};

} // namespace mobivert::engine
