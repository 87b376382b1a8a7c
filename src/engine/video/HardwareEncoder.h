#pragma once
// Hardware encoders for H.264 and HEVC outputs ("hwenc=auto"): VAAPI on a render node
// (/dev/dri/renderD*), NVIDIA's NVENC on a CUDA device, Intel's Quick Sync. Each is tried in
// three steps: its device is created, a pool of its pictures is made and one picture is
// uploaded into it, and its encoder is opened with the software encoder's settings. The first
// that passes every step replaces the software encoder; when none does, the software encoder
// codes the video as it would have, and one log line says why.
//
// For tests, MOBIVERT_HARDWARE_FAULT=device|upload|open makes that step fail on purpose (the
// steps before it are taken as passed, as no test machine has a device): the fallback from
// each step is then exercised on machines without one.

#include "engine/session/FFmpeg.h"
#include "engine/transcode/TranscodeRecords.h"

namespace mobivert::engine {

// Tries the hardware encoders of the stream's codec. True when one was opened: it is then the
// stream's encoder (its software one freed), with its picture pool and the software format
// the video path makes pictures in set on the stream. False leaves the stream untouched.
bool OpenHardwareEncoder(TCustomFFmpeg& s, OutputStream& ost);

// The picture in the hardware encoder's own memory, uploaded from a software one (its
// timestamps and properties kept); the stream keeps it until the next upload.
AVFrame* UploadedPicture(OutputStream& ost, const AVFrame* picture);

} // namespace mobivert::engine
