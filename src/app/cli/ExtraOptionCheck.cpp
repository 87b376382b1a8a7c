#include "app/cli/ExtraOptionCheck.h"

#include "converter/Libraries.h"

namespace mobivert::cli {

namespace {

// Each line is tried on a scratch session of its own kind, in the order given, as the
// conversion will apply them.
std::string CheckLines(const std::vector<std::string>& lines, const char* flag) {
    converter::TOptionRefusal refused = converter::FirstRefusedOption(lines);
    return refused.Reason.empty() ? ""
                                  : std::string(flag) + " " + refused.Line + ": " + refused.Reason;
}

} // namespace

std::string CheckExtraOptions(const std::vector<std::string>& inputLines,
                              const std::vector<std::string>& outputLines) {
    std::string refusal = CheckLines(inputLines, "-i");
    return refusal.empty() ? CheckLines(outputLines, "-x") : refusal;
}

} // namespace mobivert::cli
