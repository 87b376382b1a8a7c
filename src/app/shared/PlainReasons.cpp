#include "app/shared/PlainReasons.h"

#include <array>
#include <fstream>
#include <utility>

namespace mobivert::app {

namespace {

struct TPlainCase {
    const char* Clue; // a part of the library's or the check's text
    const char* Words;
};

// In order: the first clue found in the text decides. More telling clues come before the
// general ones they appear with (a missing "moov" header is reported as a header error).
constexpr std::array<TPlainCase, 16> kCases{{
    {"the file is empty", "the file is empty"},
    {"no such file or directory", "the file is not there any more"},
    {"is a folder, not a file", "it is a folder, not a file"},
    {"not a regular file", "it is not a regular file"},
    {"cannot be read", "the file cannot be read (no permission)"},
    {"moov atom not found", "the file ends before its header does"},
    {"truncated", "the file is cut short or damaged"},
    {"End of file", "the file is cut short or damaged"},
    {"Unknown format", "not a video or audio file"},
    {"Invalid data found", "not a video or audio file"},
    {"Error while parsing header", "the file's header is damaged"},
    {"could not find codec parameters", "its streams cannot be read"},
    {"Error while opening codec", "the encoder does not take these settings"},
    {"stopped unexpectedly", "the conversion stopped unexpectedly"},
    {"no space left", "the disk is full"},
    {"Permission denied", "permission denied"},
}};

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What the library added to the engine's message that starts at the clue: the text after the
// next ": " (the engine's messages about encoders hold none of their own).
std::string LibraryDetail(const std::string& text, size_t clueAt) {
    const size_t colon = text.find(": ", clueAt);
    if (colon == std::string::npos)
        return "";
    const size_t end = text.find_last_not_of(" \r\n");
    return end > colon + 1 ? text.substr(colon + 2, end - colon - 1) : "";
}

// Whether the file starts as an MP4 or QuickTime file does: a box whose type is one of those
// that open such files.
bool StartsAsIsoMedia(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[8] = {};
    if (path.empty() || !in.read(head, sizeof head))
        return false;
    const std::string type(head + 4, 4);
    for (const char* box : {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot"})
        if (type == box)
            return true;
    return false;
}

} // namespace

std::string PlainReason(const std::string& libraryText, const std::string& sourcePath) {
    for (const TPlainCase& c : kCases) {
        const size_t at = libraryText.find(c.Clue);
        if (at == std::string::npos)
            continue;
        std::string words = c.Words;
        if (std::string(c.Clue) == "moov atom not found" && !StartsAsIsoMedia(sourcePath))
            return "not a video or audio file";
        // What the encoder refused is said by the library alone.
        if (std::string(c.Clue) == "Error while opening codec")
            if (std::string detail = LibraryDetail(libraryText, at); !detail.empty())
                words += ": " + detail;
        return words;
    }
    return "";
}

std::string WithoutPaths(const std::string& text, const std::vector<std::string>& paths) {
    std::string result = text;
    for (const std::string& path : paths) {
        if (path.empty())
            continue;
        if (result.rfind(path + ": ", 0) == 0)
            result.erase(0, path.size() + 2);
        for (size_t at = result.find(path); at != std::string::npos; at = result.find(path, at + 1))
            result.replace(at, path.size(), FileNameOf(path));
    }
    if (!result.empty() && result[0] == '/')
        if (size_t colon = result.find(": "); colon != std::string::npos)
            result.erase(0, colon + 2);
    return result;
}

std::string ReasonFirst(const std::string& libraryText, const std::vector<std::string>& paths) {
    std::string plain = PlainReason(libraryText, paths.empty() ? "" : paths.front());
    return plain.empty() ? WithoutPaths(libraryText, paths) : plain;
}

} // namespace mobivert::app
