// Times the check of a finished output: bench_output_check SOURCE OUTPUT ROUNDS sets the source
// up as a task writing an output of OUTPUT's kind (to learn what the output should hold), then
// reads OUTPUT back ROUNDS times and prints the median time of one check in milliseconds and
// what the check found.

#include "binding/AVLibs.h"
#include "converter/AVConverter.h"
#include "converter/OutputCheck.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace mobivert;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_output_check SOURCE OUTPUT ROUNDS\n");
        return 2;
    }
    const std::string source = argv[1], output = argv[2];
    const int rounds = std::max(1, std::atoi(argv[3]));
    converter::TAVConverter converter;
    converter.SetLogLevel(converter::llQuiet);
    if (!converter.LoadAVLib(binding::ProgramLibDirectory(), true) ||
        converter.AddInputFile(source) != 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", source.c_str(), converter.LastError().c_str());
        return 1;
    }
    // The expectation comes from a task set up like the conversion (its output is never run).
    converter.PublishOutputs = true;
    const std::string probeOutput =
        (std::filesystem::path(output).parent_path() /
         ("expect-" + std::filesystem::path(output).filename().string()))
            .string();
    if (!converter.SetOutputFile(0, probeOutput)) {
        std::fprintf(stderr, "cannot set up %s: %s\n", probeOutput.c_str(),
                     converter.LastError().c_str());
        return 1;
    }
    const converter::TOutputExpectation expected = converter.Tasks(0)->Expected;
    std::vector<double> times;
    std::string found;
    for (int i = 0; i < rounds; ++i) {
        auto start = std::chrono::steady_clock::now();
        found = converter::CheckOutput(output, expected);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%.2f %s\n", times[times.size() / 2], found.empty() ? "as-asked" : found.c_str());
    return 0;
}
