#include "engine/session/CodecLock.h"

namespace mobivert::engine {

std::mutex& CodecLock() {
    static std::mutex lock;
    return lock;
}

} // namespace mobivert::engine
