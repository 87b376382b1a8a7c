#include "app/cli/ExtraOptionCheck.h"

#include "engine/session/FFmpeg.h"

namespace mobivert::cli {

namespace {

// Each line is tried on a scratch session of its own kind, in the order given, as the
// conversion will apply them.
std::string CheckLines(const std::vector<std::string>& lines, const char* flag) {
    engine::TCustomFFmpeg scratch;
    scratch.InitSession();
    for (const std::string& line : lines) {
        const size_t equals = line.find('=');
        const std::string name = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        std::string refusal = scratch.OptionRefusal(name, value);
        if (!refusal.empty())
            return std::string(flag) + " " + line + ": " + refusal;
    }
    return "";
}

} // namespace

std::string CheckExtraOptions(const std::vector<std::string>& inputLines,
                              const std::vector<std::string>& outputLines) {
    std::string refusal = CheckLines(inputLines, "-i");
    return refusal.empty() ? CheckLines(outputLines, "-x") : refusal;
}

} // namespace mobivert::cli
