#pragma once
// The captions of the window's buttons (with the letter that Alt presses them by) and the texts
// its rows and status bar show.

namespace mobivert::gui {

inline constexpr const char* CAPTION_CONVERT = "&Convert!";
inline constexpr const char* CAPTION_STOP = "&Stop";
inline constexpr const char* CAPTION_PAUSE = "&Pause";
inline constexpr const char* CAPTION_RESUME = "Res&ume";

inline constexpr const char* STATUS_READY = "Ready";
inline constexpr const char* STATUS_DONE = "Done";
inline constexpr const char* STATUS_DONE_WARNINGS = "Done (warnings)";
inline constexpr const char* STATUS_FAILED = "Failed";
inline constexpr const char* STATUS_CANCELED = "Canceled";
inline constexpr const char* DETAIL_PAUSED = "Paused";

} // namespace mobivert::gui
