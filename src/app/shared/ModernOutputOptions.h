#pragma once
// The output record of a modern preset: the source's own size, average frame rate, channels and
// sample rate unless a choice says otherwise, constant quality or a bit rate for the video, a
// bit rate for each channel of lossy sound, and the encoder that the libraries really have.

#include "app/shared/Presets.h"
#include "app/shared/StoredChoices.h"
#include "converter/AVProbe.h"
#include "converter/OptionRecords.h"

#include <string>

namespace mobivert::app {

// The record for a source whose probe is open; noVideo when the output gets no video. The
// choices must have passed CheckStoredChoices and CheckQualityChoice.
converter::TOutputOptions BuildModernOutputOptions(const TPreset& preset,
                                                   const converter::TAVProbe& source,
                                                   const TStoredChoices& choices, bool noVideo);

// Why a target size cannot be converted from this source (a preset without two passes, its
// length is unknown, or the size
// is too small for it, naming the least size that is not); empty when it can or when no target
// size is chosen. The record is the one BuildModernOutputOptions made.
std::string TargetSizeReason(const TPreset& preset, const converter::TAVProbe& source,
                             const TStoredChoices& choices,
                             const converter::TOutputOptions& options);

// Why the record cannot be converted here (an encoder the libraries lack), naming the preset
// and the encoder; empty when it can.
std::string MissingEncoderReason(const TPreset& preset, const converter::TOutputOptions& options);

// The picture size (even sides) that fits a source shown at width x height into the box
// boxWidth x boxHeight, turned to the source's orientation, keeping its shape; a source that
// fits already keeps its size.
void FitIntoBox(double width, double height, int boxWidth, int boxHeight, int& fitWidth,
                int& fitHeight);

} // namespace mobivert::app
