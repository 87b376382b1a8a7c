#pragma once
// The stored choices' fields, each with the key it is written under in preset files and batch
// journals and the generation of the program that added it (files written before a generation
// lack its keys).

#include "app/shared/StoredChoices.h"

namespace mobivert::app {

// The first choices; the modern presets' own; target sizes and hardware encoding.
inline constexpr int CHOICES_FIRST = 0;
inline constexpr int CHOICES_MODERN = 1;
inline constexpr int CHOICES_TARGETS = 2;

// Calls visit(key, field, generation) for every field, in the order files list them; Choices
// is TStoredChoices, const or not.
template <class Choices, class Visitor> void VisitChoiceFields(Choices& c, Visitor&& visit) {
    visit("channels", c.AudioChannelChoice, CHOICES_FIRST);
    visit("sample-rate", c.SampleRateChoice, CHOICES_FIRST);
    visit("aspect", c.AspectChoice, CHOICES_FIRST);
    visit("frame-rate", c.FrameRateChoice, CHOICES_FIRST);
    visit("video-bitrate-default", c.VideoBitRateDefault, CHOICES_FIRST);
    visit("video-bitrate", c.VideoBitRateText, CHOICES_FIRST);
    visit("audio-bitrate-default", c.AudioBitRateDefault, CHOICES_FIRST);
    visit("audio-bitrate", c.AudioBitRateText, CHOICES_FIRST);
    visit("size-default", c.ResolutionDefault, CHOICES_FIRST);
    visit("width", c.WidthText, CHOICES_FIRST);
    visit("height", c.HeightText, CHOICES_FIRST);
    visit("modern-channels", c.ModernChannelChoice, CHOICES_MODERN);
    visit("modern-sample-rate", c.ModernSampleRateChoice, CHOICES_MODERN);
    visit("modern-frame-rate", c.ModernFrameRateChoice, CHOICES_MODERN);
    visit("modern-size", c.ModernSizeChoice, CHOICES_MODERN);
    visit("rate-control", c.RateControlChoice, CHOICES_MODERN);
    visit("quality", c.QualityText, CHOICES_MODERN);
    visit("target-size", c.TargetSizeText, CHOICES_TARGETS);
    visit("hardware", c.HardwareEncoding, CHOICES_TARGETS);
}

} // namespace mobivert::app
