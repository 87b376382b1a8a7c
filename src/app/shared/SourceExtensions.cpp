#include "app/shared/SourceExtensions.h"

namespace mobivert::app {

const std::vector<std::string>& VideoSourceExtensions() {
    static const std::vector<std::string> extensions{
        "avi", "avm", "asf", "wmv",  "avs",  "flv", "f4v", "mkv", "webm", "mov", "qt",   "3gp",
        "3g2", "mp4", "m4v", "mpg",  "mpeg", "m2v", "dat", "ogm", "ogv",  "vob", "rm",   "rmvb",
        "rv",  "ts",  "m2t", "m2ts", "mts",  "tp",  "ifo", "nsv", "dv",   "mng", "divx", "mxf"};
    return extensions;
}

const std::vector<std::string>& AudioSourceExtensions() {
    static const std::vector<std::string> extensions{
        "mp3", "aac", "wav", "wma", "cda", "flac", "m4a",  "mid",  "mka",
        "mp2", "mpa", "mpc", "ape", "ofr", "ogg",  "oga",  "opus", "ra",
        "wv",  "tta", "ac3", "dts", "amr", "aif",  "aiff", "au",   "snd"};
    return extensions;
}

std::vector<std::string> SourceExtensions() {
    std::vector<std::string> all = VideoSourceExtensions();
    all.insert(all.end(), AudioSourceExtensions().begin(), AudioSourceExtensions().end());
    return all;
}

} // namespace mobivert::app
