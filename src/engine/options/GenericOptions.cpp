// The generic option fallback: names the option table does not know are handed to FFmpeg's own
// option system through the session's option holders (one codec context per media type, a format
// context and a scaler context), remembered by name, and later copied into every real codec or
// container context the session creates. Also the codec look-up by name.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "engine/options/ValueConversion.h"
#include "engine/session/FFmpeg.h"

#include <algorithm>
#include <sstream>

namespace mobivert::engine {

namespace {

// Search masks of the five option holders: the flags an option must carry to belong to the type.
constexpr int kTypeMasks[MEDIA_TYPE_COUNT] = {
    AV_OPT_FLAG_VIDEO_PARAM,    // video
    AV_OPT_FLAG_AUDIO_PARAM,    // audio
    0,                          // data
    AV_OPT_FLAG_SUBTITLE_PARAM, // subtitle
    0,                          // attachment
};

// Names that older FFmpeg generations knew under another name and that the component and the
// target presets still use.
const char* RenamedOption(const std::string& name) {
    if (name == "gop")
        return "g";
    return nullptr;
}

// Options that FFmpeg now keeps in the private options of one muxer or encoder family, and the
// rate and speed controls of today's encoders. The owners (blank-separated) are used to check
// the value when the option is given: one that takes it is enough. The value then reaches
// every context whose private options know the name.
struct PrivateHome {
    const char* name;
    bool muxer; // owners are muxer names, otherwise encoder names
    const char* owners;
};
constexpr PrivateHome kPrivateHomes[] = {
    {"muxrate", true, "mpeg"},
    {"scan_offset", false, "mpeg2video"},
    {"crf", false, "libx264 libx265 libvpx-vp9 libsvtav1 libaom-av1"},
    {"preset", false, "libx264 libx265 libsvtav1"},
    {"rc-lookahead", false, "libx264"},
    {"deadline", false, "libvpx-vp9"},
    {"cpu-used", false, "libvpx-vp9 libaom-av1"},
    {"row-mt", false, "libvpx-vp9 libaom-av1"},
    {"usage", false, "libaom-av1"},
    {"x265-params", false, "libx265"},
    {"x264-params", false, "libx264"},
    {"svtav1-params", false, "libsvtav1"},
    {"vbr", false, "libopus"},
};

const PrivateHome* FindPrivateHome(const std::string& name) {
    for (const PrivateHome& home : kPrivateHomes)
        if (name == home.name)
            return &home;
    return nullptr;
}

// Tries the value on a scratch context of one owning muxer or encoder: true when it is
// accepted; false also when the libraries have no such owner.
bool OwnerAccepts(const char* owner, bool muxer, const char* name, const std::string& value) {
    int result = AVERROR(EINVAL);
    if (muxer) {
        AVFormatContext* scratch = nullptr;
        if (av::avformat_alloc_output_context2(&scratch, nullptr, owner, nullptr) >= 0 && scratch) {
            result = av::av_opt_set(scratch, name, value.c_str(), AV_OPT_SEARCH_CHILDREN);
            av::avformat_free_context(scratch);
        }
    } else if (const AVCodec* codec = av::avcodec_find_encoder_by_name(owner)) {
        AVCodecContext* scratch = av::avcodec_alloc_context3(codec);
        if (scratch) {
            result = av::av_opt_set(scratch, name, value.c_str(), AV_OPT_SEARCH_CHILDREN);
            av::avcodec_free_context(&scratch);
        }
    }
    return result >= 0;
}

bool PrivateValueAccepted(const PrivateHome& home, const std::string& value) {
    std::istringstream owners(home.owners);
    for (std::string owner; owners >> owner;)
        if (OwnerAccepts(owner.c_str(), home.muxer, home.name, value))
            return true;
    return false;
}

// Flags of the codec "flags" option that now live as private options of an encoder, with the
// private option each one became.
const char* PrivateFlagOption(const std::string& flag) {
    if (flag == "scan_offset")
        return "scan_offset";
    return nullptr;
}

// A "flags" value is a list of flag names, each optionally preceded by "+" or "-". The flags
// that became private options are taken out (with the value "1" for "+" and "0" for "-"); the
// rest is returned in the same syntax.
std::string SplitPrivateFlags(const std::string& value,
                              std::vector<std::pair<std::string, std::string>>& privates) {
    std::string rest;
    size_t pos = 0;
    while (pos < value.size()) {
        size_t end = value.find_first_of("+-", pos + 1);
        if (end == std::string::npos)
            end = value.size();
        std::string token = value.substr(pos, end - pos);
        char sign = (token[0] == '+' || token[0] == '-') ? token[0] : 0;
        std::string flag = sign ? token.substr(1) : token;
        if (const char* option = PrivateFlagOption(flag))
            privates.emplace_back(option, sign == '-' ? "0" : "1");
        else
            rest += token;
        pos = end;
    }
    return rest;
}

} // namespace

bool TCustomFFmpeg::SetGenericOption(const std::string& nameText, const std::string& value) {
    if (TrimControl(nameText).empty() || TrimControl(value).empty()) {
        RefusedGenericOption = nameText;
        return false;
    }
    if (!binding::AVLibsLoaded() || !CodecOptContexts[0])
        return false;

    const char* successor = RenamedOption(nameText);
    const std::string name = successor ? std::string(successor) : nameText;

    // A "flags" value may carry flags that are private encoder options now: those are kept as
    // private options and only the rest goes to the "flags" option.
    std::string setValue = value;
    std::vector<std::pair<std::string, std::string>> privateFlags;
    if (name == "flags") {
        setValue = SplitPrivateFlags(value, privateFlags);
        for (auto it = privateFlags.begin(); it != privateFlags.end();) {
            const PrivateHome* home = FindPrivateHome(it->first);
            if (home && PrivateValueAccepted(*home, it->second))
                ++it;
            else
                it = privateFlags.erase(it);
        }
    }

    const AVOption* found = nullptr;
    bool setAnything = false;
    if (!setValue.empty()) {
        const char* optName = name.c_str();
        const char* optValue = setValue.c_str();
        // The look-up is made in the video holder, the value goes to each matching type's own.
        for (int type = 0; type < MEDIA_TYPE_COUNT; ++type) {
            int mask = kTypeMasks[type];
            if (av::av_opt_find(CodecOptContexts[0], optName, nullptr, mask, 0)) {
                AVCodecContext* holder = CodecOptContexts[type];
                found = av::av_opt_set(holder, optName, optValue, 0) >= 0
                            ? av::av_opt_find(holder, optName, nullptr, 0, 0)
                            : nullptr;
            }
        }
        if (!found && FormatOptContext &&
            av::av_opt_set(FormatOptContext, optName, optValue, 0) >= 0)
            found = av::av_opt_find(FormatOptContext, optName, nullptr, 0, 0);
        if (!found && ScalerOptContext &&
            av::av_opt_set(ScalerOptContext, optName, optValue, 0) >= 0)
            found = av::av_opt_find(ScalerOptContext, optName, nullptr, 0, 0);
        if (!found && name.size() > 1) {
            // "ab", "vb", "abt": the type letter in front of a name the type's holder knows.
            AVCodecContext* holder = nullptr;
            switch (name[0]) {
            case 'a':
                holder = CodecOptContexts[AVMEDIA_TYPE_AUDIO];
                break;
            case 'v':
                holder = CodecOptContexts[AVMEDIA_TYPE_VIDEO];
                break;
            case 's':
                holder = CodecOptContexts[AVMEDIA_TYPE_SUBTITLE];
                break;
            default:
                break;
            }
            const char* rest = optName + 1;
            if (holder && av::av_opt_set(holder, rest, optValue, 0) >= 0)
                found = av::av_opt_find(holder, rest, nullptr, 0, 0);
        }
        if (!found && name != "flags") {
            // A name FFmpeg now keeps as a private option of a muxer or encoder.
            const PrivateHome* home = FindPrivateHome(name);
            if (home && PrivateValueAccepted(*home, setValue)) {
                privateFlags.emplace_back(name, setValue);
                setAnything = true;
            }
        }
        if (found) {
            CodecOptNames.emplace_back(found->name);
            ++OptNameCount;
            setAnything = true;
        }
    }
    for (const auto& option : privateFlags) {
        auto it = std::find_if(PrivateOptionValues.begin(), PrivateOptionValues.end(),
                               [&](const auto& entry) { return entry.first == option.first; });
        if (it != PrivateOptionValues.end())
            it->second = option.second;
        else
            PrivateOptionValues.push_back(option);
        CodecOptNames.push_back(option.first);
        ++OptNameCount;
        setAnything = true;
    }
    if (!setAnything) {
        RefusedGenericOption = nameText;
        return false;
    }

    // Debug flags on the video or container holder ask for the library's debug output.
    if (CodecOptContexts[0]->debug || (FormatOptContext && FormatOptContext->debug)) {
        Verbose = 2;
        SetGlobalVerbose(2);
        av::av_log_set_level(2);
        binding::RefreshCachedLogLevel();
    }
    return true;
}

bool TCustomFFmpeg::GenericOptionKnown(const std::string& nameText) const {
    if (!binding::AVLibsLoaded() || !CodecOptContexts[0])
        return false;
    const char* successor = RenamedOption(nameText);
    const std::string name = successor ? std::string(successor) : nameText;
    if (FindPrivateHome(name) || av::av_opt_find(CodecOptContexts[0], name.c_str(), nullptr, 0, 0))
        return true;
    for (void* holder :
         {static_cast<void*>(FormatOptContext), static_cast<void*>(ScalerOptContext)})
        if (holder && av::av_opt_find(holder, name.c_str(), nullptr, 0, 0))
            return true;
    // "ab", "vb", "abt": a type letter in front of a codec option.
    return name.size() > 1 && (name[0] == 'a' || name[0] == 'v' || name[0] == 's') &&
           av::av_opt_find(CodecOptContexts[0], name.c_str() + 1, nullptr, 0, 0);
}

bool TCustomFFmpeg::SetGenericOptionInt(const std::string& name, int64_t value) {
    return SetGenericOption(name, std::to_string(value));
}

void TCustomFFmpeg::SetContextOptions(void* target, void* source, int flags) {
    if (!target || !source || !binding::AVLibsLoaded())
        return;
    for (const std::string& name : CodecOptNames) {
        const char* optName = name.c_str();
        if (const AVOption* option = av::av_opt_find(source, optName, nullptr, 0, 0)) {
            uint8_t* value = nullptr;
            if (av::av_opt_get(source, optName, 0, &value) >= 0 && value) {
                if ((option->flags & flags) == flags)
                    av::av_opt_set(target, optName, reinterpret_cast<const char*>(value), 0);
                av::av_free(value);
            }
            continue;
        }
        // Private options reach the muxer or encoder of the target whose own options know them.
        auto it = std::find_if(PrivateOptionValues.begin(), PrivateOptionValues.end(),
                               [&](const auto& entry) { return entry.first == name; });
        if (it == PrivateOptionValues.end())
            continue;
        if (av::av_opt_find(target, optName, nullptr, flags, AV_OPT_SEARCH_CHILDREN))
            av::av_opt_set(target, optName, it->second.c_str(), AV_OPT_SEARCH_CHILDREN);
    }
}

bool TCustomFFmpeg::FindCodec(const std::string& name, AVMediaType type, bool encoder,
                              AVCodecID& codecId) {
    codecId = AV_CODEC_ID_NONE;
    if (name.empty())
        return true;
    const char* kind = encoder ? "encoder" : "decoder";
    const AVCodec* codec = encoder ? av::avcodec_find_encoder_by_name(name.c_str())
                                   : av::avcodec_find_decoder_by_name(name.c_str());
    if (!codec) {
        SetupError = FormatText("Unknown %s '%s'", kind, name.c_str());
        return false;
    }
    if (codec->type != type) {
        SetupError = FormatText("Invalid %s type '%s'", kind, name.c_str());
        return false;
    }
    codecId = codec->id;
    return true;
}

} // namespace mobivert::engine
