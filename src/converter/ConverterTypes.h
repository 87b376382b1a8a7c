#pragma once
// The converter component's enumerations and event types.

#include "engine/hooks/HookTypes.h"
#include "engine/session/ThreadPriority.h"

#include <cstdint>
#include <functional>
#include <string>

namespace mobivert::converter {

enum TLogLevel { llQuiet, llError, llInfo, llDebug, llAll };

using engine::haContinue;
using engine::haIgnore;
using engine::haStop;
using engine::TBitmap;
using engine::THookAction;

using TConvertPriority = engine::TThreadPriority;
using engine::tpIdle;
using engine::tpLower;
using engine::tpLowest;
using engine::tpNormal;

using TBeforeHookEvent = std::function<void(int AIndex, int64_t APTS, THookAction& AHookAction)>;
using TCustomHookEvent = std::function<void(int AIndex, TBitmap* ABitmap, int AFrameNumber,
                                            int64_t APTS, bool& AUpdate, bool& AStopHook)>;
using TLogEvent = std::function<void(int AIndex, TLogLevel ALogLevel, const std::string& AMsg)>;
using TProgressEvent =
    std::function<void(int AIndex, int AFrameNumber, int AFPS, int ACurrentDuration, float AQuality,
                       float ABitRate, int64_t ACurrentSize, int ATotalOutputDuration)>;
using TTerminateEvent =
    std::function<void(int AIndex, bool AFinished, bool AException, const std::string& AMessage)>;

// The component's log levels are the engine's verbosity levels shifted up by one, so that
// llQuiet is verbosity -1 (nothing) and llError verbosity 0.
constexpr int kLogLevelShift = 1;

// The engine's and the libraries' verbosity for a log level of the component.
constexpr int VerbosityOf(TLogLevel level) {
    return static_cast<int>(level) - kLogLevelShift;
}

// Engine and library levels as the component reports them: below 0 quiet, 0 to 3 shifted up
// by one, 4 and above all.
TLogLevel MapLogLevel(int level);

} // namespace mobivert::converter
