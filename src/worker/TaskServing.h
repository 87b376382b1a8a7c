#pragma once
// The worker as one of a batch's pre-loaded workers: it loads the libraries once, then runs
// task after task in this same process, each on a channel of its own that the converter hands
// over with the request, until the converter closes its end or a task leaves the process unfit
// for another.

#include <functional>

namespace mobivert::worker {

// Runs one task whose job arrives on channel; false when this process should take no other
// (the task left a thread behind, say).
using TRunTask = std::function<bool(int channel)>;

// Serves the converter on descriptor 3 until it closes its end or a task leaves this process
// unfit; the exit status.
int ServeTasks(const TRunTask& runTask);

} // namespace mobivert::worker
