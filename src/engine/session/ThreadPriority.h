#pragma once
// Worker thread priorities, lowest to normal, and how they map onto per-thread nice values.
//
// The values are relative to the nice value the process was started with: a program started
// with `nice -n 5` runs its normal-priority threads at 5, and a lower priority adds to that (up
// to the system's limit of 19). No priority is ever higher than the process's own.

namespace mobivert::engine {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal };

// The nice value the process had when it started (read once, before any thread changed it).
int ProcessNiceValue();

// The nice value a thread of the priority gets: the process's own plus 19, 10, 5 or 0, at most 19.
int NiceValue(TThreadPriority priority);

// Gives the calling thread the nice value of the priority (errors are ignored: a lower priority
// is a courtesy, never a reason to fail a conversion).
void ApplyToCurrentThread(TThreadPriority priority);

} // namespace mobivert::engine
