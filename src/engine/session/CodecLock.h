#pragma once
// The process-wide lock held around every codec open and close and every input stream probe:
// several sessions may run at once and the codec library's open and close are not re-entrant.

#include <mutex>

namespace mobivert::engine {

std::mutex& CodecLock();

} // namespace mobivert::engine
