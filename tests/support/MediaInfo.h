#pragma once
// What MediaInfo, which shares no code with the engine, says of a file: the text of an --Inform
// form, the fields of a form that writes key=value lines, the duration, and its view of the
// first video stream.

#include <map>
#include <string>

namespace mobivert::test {

// MediaInfo's answer to an --Inform form ("Video;%Width%"), without the line ends at its end;
// empty when it knows nothing of what the form asks or could not run.
std::string MediaInfoText(const std::string& path, const std::string& form);

// The answer to a form that writes one "key=value" line per field, as key and value (empty
// for what MediaInfo does not know).
std::map<std::string, std::string> MediaInfoFields(const std::string& path,
                                                   const std::string& form);

// The general duration in seconds; 0 when MediaInfo gives none.
double MediaInfoSeconds(const std::string& path);

struct IndependentVideoInfo {
    bool Read = false;
    int FrameCount = -1;
    int Width = -1;
    int Height = -1;
    double Duration = -1; // seconds
};

// MediaInfo's view of the first video stream.
IndependentVideoInfo MediaInfoVideo(const std::string& path);

} // namespace mobivert::test
