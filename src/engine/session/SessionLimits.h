#pragma once
// The fixed sizes of a session's tables.

namespace mobivert::engine {

constexpr int MAX_FILES = 20;
constexpr int MAX_STREAMS = 20;
constexpr int MAX_STREAM_MAPS = MAX_FILES * MAX_STREAMS;
constexpr int MAX_META_DATA_MAPS = 20;
constexpr int MEDIA_TYPE_COUNT = 5;
constexpr int REPORT_BUFFER_SIZE = 1024;

} // namespace mobivert::engine
