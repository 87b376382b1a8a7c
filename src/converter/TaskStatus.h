#pragma once
// What the converter's owner reads of a task: the work file it writes while it runs, and, once
// its end is reported, how it ended and what it left.

#include <string>

namespace mobivert::converter {

struct TTaskStatus {
    bool Finished = false;
    bool Failed = false;
    // What differs from what was asked; empty when nothing does.
    std::string Warnings;
    // The name the output has now; empty when none was kept.
    std::string PublishedName;
    // Whether PublishedName is a cancelled run's partial output.
    bool PartialOutput = false;
    // The hidden work file the run writes, while the task waits or runs.
    std::string PartName;
};

} // namespace mobivert::converter
