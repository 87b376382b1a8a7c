#pragma once
// Frame hooks as an application sees them: the bitmap its custom hook draws on (with its canvas
// and lock) and the actions its before-hook handler answers with. Plug-in libraries are written
// against include/mobivert/FrameHook.h.

#include "converter/ConverterTypes.h"
#include "engine/hooks/TBitmap.h"

namespace mobivert::converter {

using engine::bsClear;
using engine::bsSolid;
using engine::TBrushStyle;
using engine::TCanvas;

} // namespace mobivert::converter
