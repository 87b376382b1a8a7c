#pragma once
// Worker thread priorities, lowest to normal, how they map onto per-thread nice values, and how a
// conversion's threads are scheduled.
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

// Schedules the calling thread as batch work (SCHED_BATCH, its nice value kept), and with it the
// threads it starts from then on (the codecs' and the encoder's), which inherit it. A conversion
// runs ten or more threads on a few cores that wake one another for every picture; as batch work
// a woken thread waits for the running one's time slice to end instead of taking its core at
// once, and the threads take each other's cores a tenth as often. Errors are ignored, as for the
// priority.
void ScheduleCurrentThreadAsBatchWork();

} // namespace mobivert::engine
