// Feeds arbitrary bytes to a fresh session as an option text. Refusals are expected; crashes,
// memory errors, undefined behaviour and writes past the session's tables are not.

#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using mobivert::engine::FFMpegException;
using mobivert::engine::TCustomFFmpeg;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!mobivert::binding::LoadAVLibs("", true)) {
        std::fprintf(stderr, "%s\n", mobivert::binding::AVLibsLastError().c_str());
        std::abort();
    }
    av::av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TCustomFFmpeg session;
    session.InitSession();
    size_t logged = 0;
    session.OnLog = [&logged](TCustomFFmpeg&, int, const std::string& text) {
        logged += text.size();
    };
    try {
        session.ApplyOptionText(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const FFMpegException&) {
    }
    // The tables never count past their sizes.
    if (session.StreamMapCount > mobivert::engine::MAX_STREAM_MAPS ||
        session.MetaDataMapCount > mobivert::engine::MAX_META_DATA_MAPS ||
        session.OptNameCount != static_cast<int32_t>(session.CodecOptNames.size()))
        std::abort();
    // "v" and the debug flags change the process-wide log level: keep the run quiet.
    av::av_log_set_level(AV_LOG_QUIET);
    return 0;
}
