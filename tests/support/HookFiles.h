#pragma once
// Paths of the frame-hook plug-ins built for the tests, and the lines a recording plug-in wrote.

#include <cstdint>
#include <string>
#include <vector>

namespace mobivert::test {

// A test plug-in by its target name (RecordHook, NoConfigureHook, ...).
std::string TestHook(const std::string& name);
// The example plug-in that ships with the program.
std::string ExampleHook();

// The lines of a text file; empty when it cannot be read.
std::vector<std::string> ReadLines(const std::string& path);
// The picture times the recording plug-in was called with, in order.
std::vector<int64_t> RecordedTimes(const std::string& path);

} // namespace mobivert::test
