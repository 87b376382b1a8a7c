#pragma once
// Worker thread priorities, lowest to normal, and how they map onto per-thread nice values.

namespace mobivert::engine {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal };

int NiceValue(TThreadPriority priority);

// Gives the calling thread the nice value of the priority (errors are ignored: a lower priority
// is a courtesy, never a reason to fail a conversion).
void ApplyToCurrentThread(TThreadPriority priority);

} // namespace mobivert::engine
