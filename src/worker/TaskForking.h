#pragma once
// The worker as the pre-loaded worker of a batch: it loads the libraries once, then forks one
// process per task the converter asks for, each of which runs that task as a worker started
// for it would.

#include <functional>

namespace mobivert::worker {

// Serves the converter on descriptor 3 until it closes its end; runTask runs in each forked
// task process (its descriptor 3 then the task's channel) and does not return.
int ServeTasks(const std::function<void()>& runTask);

} // namespace mobivert::worker
