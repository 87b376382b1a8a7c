#include "support/MediaInfo.h"

#include "support/ShellCommand.h"

#include <cstdlib>
#include <sstream>

namespace mobivert::test {

namespace {

std::string MediaInfoOutput(const std::string& path, const std::string& form) {
    return RunCommand("mediainfo " + ShellQuoted("--Inform=" + form) + " " + ShellQuoted(path) +
                      " 2>/dev/null");
}

} // namespace

std::string MediaInfoText(const std::string& path, const std::string& form) {
    return WithoutTrailingLineEnds(MediaInfoOutput(path, form));
}

std::map<std::string, std::string> MediaInfoFields(const std::string& path,
                                                   const std::string& form) {
    const std::string output = MediaInfoOutput(path, form);
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        std::string line = output.substr(start, end - start);
        if (size_t equals = line.find('='); equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return values;
}

double MediaInfoSeconds(const std::string& path) {
    return std::atof(MediaInfoOutput(path, "General;%Duration%").c_str()) / 1000.0;
}

IndependentVideoInfo MediaInfoVideo(const std::string& path) {
    IndependentVideoInfo info;
    std::istringstream in(MediaInfoOutput(path, "Video;%FrameCount%|%Width%|%Height%|%Duration%"));
    std::string frames, width, height, duration;
    if (!std::getline(in, frames, '|') || !std::getline(in, width, '|') ||
        !std::getline(in, height, '|') || !std::getline(in, duration))
        return info;
    info.Read = true;
    info.FrameCount = frames.empty() ? -1 : std::atoi(frames.c_str());
    info.Width = width.empty() ? -1 : std::atoi(width.c_str());
    info.Height = height.empty() ? -1 : std::atoi(height.c_str());
    info.Duration = duration.empty() ? -1.0 : std::atof(duration.c_str()) / 1000.0;
    return info;
}

} // namespace mobivert::test
