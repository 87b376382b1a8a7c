// The option text and the option table: every option name the engine knows, with what its
// handler does. Names the table does not know go to the generic fallback, which hands them to
// FFmpeg's own option system or drops them silently.

#include "engine/options/ValueConversion.h"
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

// Codec threads: a count, or 0 for as many as the cores allow.
void SetThreadCount(TCustomFFmpeg& s, const std::string&, const std::string& value) {
    int32_t count = StrToInt(value);
    if (count < 0)
        throw FFMpegException("threads must be 0 (automatic) or more");
    s.ThreadCount = count;
}

// The table. Flags ignore their value; plain values are converted and stored without range
// checks; the rest call the handlers.
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

        // Flags.
        {"dump", [](TCustomFFmpeg& s, auto&, auto&) { s.DoPktDump = 1; }},
        {"hex", [](TCustomFFmpeg& s, auto&, auto&) { s.DoHexDump = 1; }},
        {"re", [](TCustomFFmpeg& s, auto&, auto&) { s.RateEmu = 1; }},
        {"loop_input", [](TCustomFFmpeg& s, auto&, auto&) { s.LoopInput = 1; }},
        {"copyts", [](TCustomFFmpeg& s, auto&, auto&) { s.CopyTs = true; }},
        {"shortest", [](TCustomFFmpeg& s, auto&, auto&) { s.Shortest = 1; }},
        {"xerror", [](TCustomFFmpeg& s, auto&, auto&) { s.ExitOnError = true; }},
        {"intra", [](TCustomFFmpeg& s, auto&, auto&) { s.IntraOnly = 1; }},
        {"vn", [](TCustomFFmpeg& s, auto&, auto&) { s.VideoDisable = 1; }},
        {"sameq", [](TCustomFFmpeg& s, auto&, auto&) { s.SameQuality = 1; }},
        {"deinterlace", [](TCustomFFmpeg& s, auto&, auto&) { s.DoDeinterlace = 1; }},
        {"noautorotate", [](TCustomFFmpeg& s, auto&, auto&) { s.AutoRotate = 0; }},
        {"psnr", [](TCustomFFmpeg& s, auto&, auto&) { s.DoPsnr = 1; }},
        {"qphist", [](TCustomFFmpeg& s, auto&, auto&) { s.QpHist = 1; }},
        {"an", [](TCustomFFmpeg& s, auto&, auto&) { s.AudioDisable = 1; }},
        {"sn", [](TCustomFFmpeg& s, auto&, auto&) { s.SubtitleDisable = 1; }},
        {"isync", [](TCustomFFmpeg& s, auto&, auto&) { s.InputSync = 1; }},

        // Whole numbers.
        {"vframes", [](TCustomFFmpeg& s, auto&, auto& v) { s.MaxFrames[0] = StrToInt(v); }},
        {"aframes", [](TCustomFFmpeg& s, auto&, auto& v) { s.MaxFrames[1] = StrToInt(v); }},
        {"dframes", [](TCustomFFmpeg& s, auto&, auto& v) { s.MaxFrames[2] = StrToInt(v); }},
        {"loop_output", [](TCustomFFmpeg& s, auto&, auto& v) { s.LoopOutput = StrToInt(v); }},
        {"vsync", [](TCustomFFmpeg& s, auto&, auto& v) { s.VideoSyncMethod = StrToInt(v); }},
        {"async", [](TCustomFFmpeg& s, auto&, auto& v) { s.AudioSyncMethod = StrToInt(v); }},
        {"vglobal", [](TCustomFFmpeg& s, auto&, auto& v) { s.VideoGlobalHeader = StrToInt(v); }},
        {"programid", [](TCustomFFmpeg& s, auto&, auto& v) { s.ProgramId = StrToInt(v); }},
        {"vdt", [](TCustomFFmpeg& s, auto&, auto& v) { s.VideoDiscard = StrToInt(v); }},
        {"me_threshold", [](TCustomFFmpeg& s, auto&, auto& v) { s.MeThreshold = StrToInt(v); }},
        {"top", [](TCustomFFmpeg& s, auto&, auto& v) { s.TopFieldFirst = StrToInt(v); }},
        {"dc", [](TCustomFFmpeg& s, auto&, auto& v) { s.IntraDcPrecision = StrToInt(v); }},
        {"vol", [](TCustomFFmpeg& s, auto&, auto& v) { s.AudioVolume = StrToInt(v); }},
        {"vc", [](TCustomFFmpeg& s, auto&, auto& v) { s.VideoChannel = StrToInt(v); }},
        {"fs", [](TCustomFFmpeg& s, auto&,
                  auto& v) { s.LimitFileSize = static_cast<uint64_t>(StrToInt64(v)); }},

        // Decimal numbers.
        {"adrift_threshold",
         [](TCustomFFmpeg& s, auto&, auto& v) { s.AudioDriftThreshold = StrToSingle(v); }},
        {"dts_delta_threshold",
         [](TCustomFFmpeg& s, auto&, auto& v) { s.DtsDeltaThreshold = StrToSingle(v); }},
        {"aq", [](TCustomFFmpeg& s, auto&, auto& v) { s.AudioQScale = StrToSingle(v); }},
        {"muxdelay", [](TCustomFFmpeg& s, auto&, auto& v) { s.MuxMaxDelay = StrToSingle(v); }},
        {"muxpreload", [](TCustomFFmpeg& s, auto&, auto& v) { s.MuxPreload = StrToSingle(v); }},

        // Texts.
        {"title", [](TCustomFFmpeg& s, auto&, auto& v) { s.MetaTitle = v; }},
        {"author", [](TCustomFFmpeg& s, auto&, auto& v) { s.MetaAuthor = v; }},
        {"copyright", [](TCustomFFmpeg& s, auto&, auto& v) { s.MetaCopyright = v; }},
        {"comment", [](TCustomFFmpeg& s, auto&, auto& v) { s.MetaComment = v; }},
        {"genre", [](TCustomFFmpeg& s, auto&, auto& v) { s.MetaGenre = v; }},
        {"album", [](TCustomFFmpeg& s, auto&, auto& v) { s.MetaAlbum = v; }},
        {"passlogfile", [](TCustomFFmpeg& s, auto&, auto& v) { s.PassLogFileName = v; }},
        {"hwenc", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetHardwareEncoding(v); }},
        {"alang", [](TCustomFFmpeg& s, auto&, auto& v) { s.AudioLanguage = v; }},
        {"slang", [](TCustomFFmpeg& s, auto&, auto& v) { s.SubtitleLanguage = v; }},
        {"rc_override", [](TCustomFFmpeg& s, auto&, auto& v) { s.VideoRcOverride = v; }},
        {"tvstd", [](TCustomFFmpeg& s, auto&, auto& v) { s.VideoStandard = v; }},
        {"vstats_file", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetVStatsFile(v); }},
        {"vfilters", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetVideoFilters(v); }},

        // Durations and dates.
        {"ss",
         [](TCustomFFmpeg& s, auto& n, auto& v) { s.StartTime = ParseTimeValue(n, v, true); }},
        {"itsoffset",
         [](TCustomFFmpeg& s, auto& n, auto& v) { s.InputTsOffset = ParseTimeValue(n, v, true); }},
        {"timestamp",
         [](TCustomFFmpeg& s, auto& n,
            auto& v) { s.RecTimestamp = RoundToSeconds(ParseTimeValue(n, v, false)); }},
        {"t", [](TCustomFFmpeg& s, auto& n,
                 auto& v) { s.SetRecordingTimeMs(ParseTimeValue(n, v, true) / 1000); }},

        // Handlers with rules of their own.
        {"threads", SetThreadCount},
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
        {"qscale", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetQScale(StrToFloat(v)); }},
        {"vcodec", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetVideoCodec(v); }},
        {"acodec", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetAudioCodec(v); }},
        {"scodec", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetSubtitleCodec(v); }},
        {"pass", [](TCustomFFmpeg& s, auto&, auto& v) { s.SetPass(StrToInt(v)); }},
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
    if (it == table.end() && !GenericOptionKnown(name))
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
    auto it = table.find(name);
    if (it != table.end())
        it->second(*this, name, value);
    else
        SetGenericOption(name, value);
}

} // namespace mobivert::engine
