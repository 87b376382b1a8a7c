// The option text and the option table: every option name the engine knows, with what its
// handler does. The options that only store a converted value are declared in the table of
// value options (ValueOptions.cpp); names neither table knows go to the generic fallback, which
// hands them to FFmpeg's own option system or drops them silently.

#include "engine/options/ValueConversion.h"
#include "engine/options/ValueOptions.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

#include <unordered_map>

namespace mobivert::engine {

namespace {

using Handler = void (*)(TCustomFFmpeg& session, const std::string& name, const std::string& value);

// Rounds a microsecond count to whole seconds, halves to the even second.
int64_t RoundToSeconds(int64_t us) {
    int64_t seconds = us / 1000000;
    int64_t rest = us % 1000000;
    if (rest < 0) {
        rest += 1000000;
        --seconds;
    }
    if (rest > 500000 || (rest == 500000 && (seconds & 1)))
        ++seconds;
    return seconds;
}

void DoNothing(TCustomFFmpeg& s, const std::string& name, const std::string&) {
    s.Log(1, "Do nothing: option - " + name);
}

// The table of the options with handlers: the ignored names, the options that convert their
// value in a way of their own, and the handlers with rules of their own.
const std::unordered_map<std::string, Handler>& OptionTable() {
    static const std::unordered_map<std::string, Handler> table = {
        // Accepted and ignored: the program has nothing to do for them.
        {"L", DoNothing},
        {"h", DoNothing},
        {"version", DoNothing},
        {"formats", DoNothing},
        {"i", DoNothing},
        {"y", DoNothing},
        {"benchmark", DoNothing},
        {"apre", DoNothing},
        {"vpre", DoNothing},
        {"spre", DoNothing},

        // Texts with handlers of their own.
        {"hwenc", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetHardwareEncoding(v); }},
        {"vfilters", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetVideoFilters(v); }},

        // Dates and durations that are converted further.
        {"timestamp",
         [](TCustomFFmpeg& s, auto& n, auto& v) {
             s.RecTimestamp = RoundToSeconds(ParseTimeValue(n, v, false));
         }},
        {"t", [](TCustomFFmpeg& s, auto& n,
                 auto& v) { s.SetRecordingTimeMs(ParseTimeValue(n, v, true) / 1000); }},

        // Handlers with rules of their own.
        {"f", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetFormat(v); }},
        {"map", [](TCustomFFmpeg& s, auto&, auto& v) { s.AddStreamMap(v); }},
        {"map_meta_data", [](TCustomFFmpeg& s, auto&, auto& v) { s.AddMetaDataMap(v); }},
        {"itsscale", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetInputTsScale(v); }},
        {"v", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetVerbose(StrToInt(v)); }},
        {"target", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetTargetOption(v); }},
        {"b", [](TCustomFFmpeg& s, auto& n, auto& v) { s.SetBitRate(n, v); }},
        {"vb", [](TCustomFFmpeg& s, auto& n, auto& v) { s.SetBitRate(n, v); }},
        {"ab", [](TCustomFFmpeg& s, auto& n, auto& v) { s.SetBitRate(n, v); }},
        {"r", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetFrameRate(v); }},
        {"s", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetFrameSize(v); }},
        {"aspect", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetFrameAspectRatio(v); }},
        {"pix_fmt", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetPixelFormat(v); }},
        {"sample_fmt", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetSampleFormat(v); }},
        {"croptop", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetFrameCropTop(StrToInt(v)); }},
        {"cropbottom", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetFrameCropBottom(StrToInt(v)); }},
        {"cropleft", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetFrameCropLeft(StrToInt(v)); }},
        {"cropright", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetFrameCropRight(StrToInt(v)); }},
        {"padtop", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetFramePadTop(StrToInt(v)); }},
        {"padbottom", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetFramePadBottom(StrToInt(v)); }},
        {"padleft", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetFramePadLeft(StrToInt(v)); }},
        {"padright", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetFramePadRight(StrToInt(v)); }},
        {"padcolor", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetPadColor(StrToInt(v)); }},
        {"vcodec", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetVideoCodec(v); }},
        {"acodec", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetAudioCodec(v); }},
        {"scodec", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetSubtitleCodec(v); }},
        {"vstats", [](TCustomFFmpeg& s, auto&, auto&) { s.SetVStats(); }},
        {"intra_matrix", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetIntraMatrix(v); }},
        {"inter_matrix", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetInterMatrix(v); }},
        {"vtag", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetVideoTag(v); }},
        {"atag", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetAudioTag(v); }},
        {"ar", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetAudioSampleRate(StrToInt(v)); }},
        {"ac", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetAudioChannels(StrToInt(v)); }},
        {"absf", [](TCustomFFmpeg& s, auto& n, auto& v) { s.AddBitstreamFilter(n, v); }},
        {"vbsf", [](TCustomFFmpeg& s, auto& n, auto& v) { s.AddBitstreamFilter(n, v); }},
        {"sbsf", [](TCustomFFmpeg& s, auto& n, auto& v) { s.AddBitstreamFilter(n, v); }},

        // New streams on the latest output.
        {"newvideo", [](TCustomFFmpeg& s, auto&, auto&) { s.AddNewVideoStream(); }},
        {"newaudio", [](TCustomFFmpeg& s, auto&, auto&) { s.AddNewAudioStream(); }},
        {"newsubtitle", [](TCustomFFmpeg& s, auto&, auto&) { s.AddNewSubtitleStream(); }},

        // Frame-hook plug-ins.
        {"vhook", [](TCustomFFmpeg& s, auto&, auto& v) { s.AddVideoHook(v); }},
    };
    return table;
}

} // namespace

void TCustomFFmpeg::ApplyOptionText(const std::string& text) {
    std::string rest = TrimControl(text);
    // Every line break (CR LF, lone CR, lone LF) becomes one LF.
    std::string lines;
    lines.reserve(rest.size());
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '\r') {
            lines.push_back('\n');
            if (i + 1 < rest.size() && rest[i + 1] == '\n')
                ++i;
        } else {
            lines.push_back(rest[i]);
        }
    }
    size_t pos = 0;
    while (pos < lines.size()) {
        size_t end = lines.find('\n', pos);
        if (end == std::string::npos)
            end = lines.size();
        std::string line = lines.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty())
            continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            SetOption(line, std::string());
        else
            SetOption(line.substr(0, equals), line.substr(equals + 1));
    }
}

std::string TCustomFFmpeg::OptionRefusal(const std::string& name, const std::string& value) {
    const auto& table = OptionTable();
    auto it = table.find(name);
    if (it == table.end() && !FindValueOption(name) && !GenericOptionKnown(name))
        return "unknown option \"" + name + "\"";
    // Options that add a stream to an output need one; their name is all there is to check.
    if (name == "newvideo" || name == "newaudio" || name == "newsubtitle")
        return "";
    RefusedGenericOption.clear();
    try {
        SetOption(name, value);
    } catch (const FFMpegException& e) {
        return "option \"" + name + "\": " + e.what();
    }
    if (!RefusedGenericOption.empty())
        return "\"" + value + "\" is not a valid value for option \"" + name + "\"";
    return "";
}

void TCustomFFmpeg::SetOption(const std::string& name, const std::string& value) {
    const auto& table = OptionTable();
    if (auto it = table.find(name); it != table.end())
        it->second(*this, name, value);
    else if (const ValueOption* option = FindValueOption(name))
        StoreValueOption(*this, *option, value);
    else
        SetGenericOption(name, value);
}

} // namespace mobivert::engine
