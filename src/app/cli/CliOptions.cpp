#include "app/cli/CliOptions.h"

#include "app/shared/ConversionDriver.h"
#include "app/shared/Presets.h"
#include "app/shared/Settings.h"
#include "app/shared/UserPresets.h"

#include <algorithm>
#include <optional>

namespace mobivert::cli {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The index of value among the items after "Default", or -1.
int ChoiceIndex(const std::vector<std::string>& items, const std::string& value) {
    for (size_t i = 1; i < items.size(); ++i)
        if (Lower(items[i]) == Lower(value))
            return static_cast<int>(i);
    return -1;
}

std::string ItemList(const std::vector<std::string>& items) {
    std::string list;
    for (size_t i = 1; i < items.size(); ++i)
        list += (i > 1 ? ", " : "") + items[i];
    return list;
}

bool ResolvePreset(const std::string& value, std::string& text, std::string& error) {
    if (value == app::CLICK_TO_SELECT || value == "0") {
        error = app::MSG_CHOOSE_FORMAT;
        return false;
    }
    if (app::FindPreset(value)) {
        text = value;
        return true;
    }
    std::optional<int> number = app::ParseIntegerText(value);
    const app::TPreset* numbered = number ? app::PresetByNumber(*number) : nullptr;
    if (numbered && value.find_first_not_of("0123456789") == std::string::npos) {
        text = numbered->Text;
        return true;
    }
    error = "Unknown preset: " + value + " (mobivert-cli --list-presets shows them)";
    return false;
}

bool ValidOptionLine(const std::string& line) {
    size_t equals = line.find('=');
    return equals != std::string::npos && equals > 0 &&
           line.find_first_of("\r\n") == std::string::npos;
}

// The choice options as typed; they are read once the preset is known.
struct TChoiceTexts {
    std::optional<std::string> Channels, SampleRate, FrameRate, Size;
    bool QualityGiven = false;
    bool TargetSizeGiven = false;
    std::optional<std::string> Hardware;
    bool VideoBitRateGiven = false;
    bool AudioBitRateGiven = false;
    bool AspectGiven = false;
};

// The index of a value in a list, trying it also with the unit the items carry.
int ChoiceIndexWithUnit(const std::vector<std::string>& items, const std::string& value,
                        const char* unit) {
    int index = ChoiceIndex(items, value);
    return index >= 0 ? index : ChoiceIndex(items, value + unit);
}

bool ApplyClassicChoices(const TChoiceTexts& raw, TCliOptions& o, std::string& error) {
    app::TStoredChoices& c = o.Choices;
    if (raw.QualityGiven || raw.TargetSizeGiven) {
        error = std::string(raw.QualityGiven ? "--quality" : "--target-size") +
                " applies only to the modern video presets (22 to 26)";
        return false;
    }
    if (raw.Hardware) {
        error = "--hardware applies only to MP4 H.264 and MP4 H.265 (22 and 23)";
        return false;
    }
    if (raw.Channels) {
        c.AudioChannelChoice = ChoiceIndex(app::AudioChannelItems(), *raw.Channels);
        if (c.AudioChannelChoice < 0) {
            error = "--channels takes mono or stereo";
            return false;
        }
    }
    if (raw.SampleRate) {
        c.SampleRateChoice = ChoiceIndexWithUnit(app::SampleRateItems(), *raw.SampleRate, "Hz");
        if (c.SampleRateChoice < 0) {
            error = "--sample-rate takes 8000, 11025, 22050 or 44100";
            return false;
        }
    }
    if (raw.FrameRate) {
        c.FrameRateChoice = ChoiceIndex(app::FrameRateItems(), *raw.FrameRate);
        if (c.FrameRateChoice < 0) {
            error = "--fps takes one of " + ItemList(app::FrameRateItems());
            return false;
        }
    }
    if (raw.Size) {
        size_t x = raw.Size->find_first_of("xX");
        c.WidthText = raw.Size->substr(0, x);
        c.HeightText = x == std::string::npos ? "" : raw.Size->substr(x + 1);
        c.ResolutionDefault = false;
    }
    return true;
}

// "source" or an item of the list (with its unit or without); -1 when it is neither.
int ModernChoiceIndex(const std::vector<std::string>& items, const std::string& value,
                      const char* unit) {
    if (Lower(value) == "source" || Lower(value) == Lower(app::SAME_AS_SOURCE))
        return 0;
    return ChoiceIndexWithUnit(items, value, unit);
}

std::string ModernItemList(const std::vector<std::string>& items) {
    return "source, " + ItemList(items);
}

bool ApplyModernChoices(const TChoiceTexts& raw, const app::TPreset& preset, TCliOptions& o,
                        std::string& error) {
    app::TStoredChoices& c = o.Choices;
    auto pick = [&](const std::optional<std::string>& text, const std::vector<std::string>& items,
                    const char* unit, const char* option, int& choice) {
        if (!text)
            return true;
        choice = ModernChoiceIndex(items, *text, unit);
        if (choice < 0)
            error = std::string(option) + " takes one of " + ModernItemList(items);
        return choice >= 0;
    };
    if (!pick(raw.Channels, app::ModernChannelItems(), "", "--channels", c.ModernChannelChoice) ||
        !pick(raw.SampleRate, app::ModernSampleRateItems(), "Hz", "--sample-rate",
              c.ModernSampleRateChoice) ||
        !pick(raw.FrameRate, app::ModernFrameRateItems(), "", "--fps", c.ModernFrameRateChoice) ||
        !pick(raw.Size, app::ModernSizeItems(), "", "--size", c.ModernSizeChoice))
        return false;
    if ((raw.QualityGiven || raw.TargetSizeGiven) && preset.DefaultQuality < 0) {
        error = std::string(raw.QualityGiven ? "--quality" : "--target-size") +
                " applies only to the modern video presets (22 to 26)";
        return false;
    }
    if (raw.QualityGiven && raw.VideoBitRateGiven) {
        error = "--quality and --video-bitrate cannot be used together";
        return false;
    }
    if (raw.TargetSizeGiven && (raw.QualityGiven || raw.VideoBitRateGiven)) {
        error = "--target-size cannot be used together with --quality or --video-bitrate";
        return false;
    }
    if (raw.VideoBitRateGiven)
        c.RateControlChoice = app::RATE_BIT_RATE;
    else if (raw.QualityGiven)
        c.RateControlChoice = app::RATE_QUALITY;
    else if (raw.TargetSizeGiven)
        c.RateControlChoice = app::RATE_TARGET_SIZE;
    if (std::string message = app::CheckQualityChoice(c, preset.MaxQuality); !message.empty()) {
        error = "--quality: " + message;
        return false;
    }
    if (std::string message = app::CheckTargetSizeChoice(c); !message.empty()) {
        error = "--target-size: " + message;
        return false;
    }
    if (raw.Hardware && !preset.HardwareEncoders) {
        error = "--hardware applies only to MP4 H.264 and MP4 H.265 (22 and 23)";
        return false;
    }
    if (raw.Hardware && *raw.Hardware != "auto" && *raw.Hardware != "off") {
        error = "--hardware takes auto or off";
        return false;
    }
    if (raw.Hardware)
        c.HardwareEncoding = *raw.Hardware == "auto";
    return true;
}

// A user's preset named by -p: its format and choices, with what was typed on the command line
// over them.
std::optional<app::TUserPreset> ResolveUserPreset(const std::string& value, const TChoiceTexts& raw,
                                                  TCliOptions& o) {
    std::vector<std::string> messages;
    const std::vector<app::TUserPreset> presets =
        app::LoadUserPresets(o.UserPresetFolder, messages);
    const app::TUserPreset* preset = app::FindUserPreset(presets, value);
    if (!preset)
        return std::nullopt;
    app::TStoredChoices typed = o.Choices;
    o.Choices = preset->Choices;
    if (raw.VideoBitRateGiven) {
        o.Choices.VideoBitRateText = typed.VideoBitRateText;
        o.Choices.VideoBitRateDefault = false;
    }
    if (raw.AudioBitRateGiven) {
        o.Choices.AudioBitRateText = typed.AudioBitRateText;
        o.Choices.AudioBitRateDefault = false;
    }
    if (raw.AspectGiven)
        o.Choices.AspectChoice = typed.AspectChoice;
    if (raw.QualityGiven)
        o.Choices.QualityText = typed.QualityText;
    if (raw.TargetSizeGiven)
        o.Choices.TargetSizeText = typed.TargetSizeText;
    return *preset;
}

} // namespace

std::string UsageText() {
    return "usage: mobivert-cli -p PRESET [options] FILE...\n"
           "       mobivert-cli --list-presets\n"
           "       mobivert-cli --info FILE...\n"
           "       mobivert-cli --resume [-j N] [-q|-v]\n"
           "       mobivert-cli --version\n"
           "       mobivert-cli -p PRESET [options] --save-preset NAME\n"
           "       mobivert-cli --import-preset FILE\n"
           "       mobivert-cli --export-preset NAME FILE\n"
           "\n"
           "Converts every FILE with the output preset PRESET (its exact text or its number\n"
           "1..31, or the name of a preset of your own; see --list-presets).\n"
           "\n"
           "  -p, --preset PRESET     the output preset\n"
           "  -o, --output DIR        write the outputs into DIR (created when missing)\n"
           "  -s, --same-folder       write each output beside its source\n"
           "                          (without -o or -s: strOutput of config.ini, ~/CorvelVideo)\n"
           "      --channels mono|stereo\n"
           "      --sample-rate 8000|11025|22050|44100\n"
           "      --aspect 4:3|16:9|37:20|47:20\n"
           "      --fps 10|15|25|30\n"
           "      --video-bitrate KBITS\n"
           "      --audio-bitrate KBITS\n"
           "      --size WxH          picture size of every output with video\n"
           "  The modern presets (22..31) take instead:\n"
           "      --channels source|mono|stereo|5.1|7.1\n"
           "      --sample-rate source|44100|48000|96000\n"
           "      --fps source|24|25|30|50|60\n"
           "      --size source|3840x2160|2560x1440|1920x1080|1280x720|854x480|640x360\n"
           "                          (a box the picture is fitted into, keeping its shape)\n"
           "      --quality N         constant quality, the encoder's number: larger gives\n"
           "                          smaller files (the default; 22 H.264, 26 H.265, 32 VP9\n"
           "                          and AV1); --video-bitrate codes at a bit rate instead\n"
           "      --target-size SIZE  an output of about SIZE: 25MB, 700M, 1.5GB; kB, MB\n"
           "                          and GB count in powers of ten (1 MB = 1000000 bytes),\n"
           "                          KiB, MiB and GiB in powers of two, a plain number is\n"
           "                          MB; the video is coded in two passes (WebM AV1: one)\n"
           "      --hardware auto|off MP4 H.264 and H.265: code the video on a hardware\n"
           "                          encoder (VAAPI, NVIDIA, Intel QSV) when one works,\n"
           "                          else in software (auto, the default), or always in\n"
           "                          software (off)\n"
           "  -x NAME=VALUE           an extra engine option for every output, applied last\n"
           "                          so that it wins over the preset (repeatable)\n"
           "  -i NAME=VALUE           an extra engine option for every input (repeatable)\n"
           "  -j N                    N conversions at once (default 1)\n"
           "  -q                      no log lines\n"
           "  -v                      more log lines (-vv, -vvv for more still)\n"
           "      --resume            finish the files of batches that did not end (the program\n"
           "                          was killed or the machine went down)\n"
           "      --save-preset NAME  keep the preset with these options as NAME (in the\n"
           "                          presets folder beside config.ini), convert nothing\n"
           "      --import-preset FILE, --export-preset NAME FILE\n"
           "                          take a preset file in, or write one out\n"
           "  -h, --help              this text\n"
           "\n"
           "Outputs are written under a hidden name ending in .part and take their own name\n"
           "only when complete; a canceled output is kept as \"... [partial].ext\".\n"
           "Each output is read back and checked: a missing stream or one much shorter or\n"
           "longer than its source is reported as \"Done with warnings: <what differs>\".\n"
           "\n"
           "Exit status: 0 every file converted, 3 every file converted but some with\n"
           "warnings, 1 a file failed, was refused or canceled, 2 usage error.\n";
}

bool ParseCommandLine(int argc, char** argv, TCliOptions& o, std::string& error) {
    std::vector<std::string> args(argv + 1, argv + argc);
    o.UserPresetFolder = app::UserPresetFolder(app::ConfigFilePath());
    std::string presetValue;
    bool presetGiven = false;
    TChoiceTexts raw;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            o.Files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name=value" is the same as "--name value".
        std::string inlineValue;
        bool hasInline = false;
        if (arg.rfind("--", 0) == 0) {
            if (size_t equals = arg.find('='); equals != std::string::npos) {
                inlineValue = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
                hasInline = true;
            }
        }
        auto value = [&](std::string& out) {
            if (hasInline) {
                out = inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (arg == "-p" || arg == "--preset") {
            if (!value(presetValue))
                return false;
            presetGiven = true;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(v))
                return false;
            if (v.empty()) {
                error = arg + " needs a folder";
                return false;
            }
            o.OutputFolder = v;
            o.OutputFolderGiven = true;
        } else if (arg == "-s" || arg == "--same-folder") {
            o.SameFolder = true;
        } else if (arg == "--channels") {
            if (!value(v))
                return false;
            raw.Channels = v;
        } else if (arg == "--sample-rate") {
            if (!value(v))
                return false;
            raw.SampleRate = v;
        } else if (arg == "--aspect") {
            if (!value(v))
                return false;
            int index = ChoiceIndex(app::AspectItems(), v);
            if (index < 0) {
                error = "--aspect takes one of " + ItemList(app::AspectItems());
                return false;
            }
            o.Choices.AspectChoice = index;
            raw.AspectGiven = true;
        } else if (arg == "--fps") {
            if (!value(v))
                return false;
            raw.FrameRate = v;
        } else if (arg == "--video-bitrate") {
            if (!value(o.Choices.VideoBitRateText))
                return false;
            o.Choices.VideoBitRateDefault = false;
            raw.VideoBitRateGiven = true;
        } else if (arg == "--audio-bitrate") {
            if (!value(o.Choices.AudioBitRateText))
                return false;
            o.Choices.AudioBitRateDefault = false;
            raw.AudioBitRateGiven = true;
        } else if (arg == "--size") {
            if (!value(v))
                return false;
            raw.Size = v;
        } else if (arg == "--quality") {
            if (!value(o.Choices.QualityText))
                return false;
            raw.QualityGiven = true;
        } else if (arg == "--target-size") {
            if (!value(o.Choices.TargetSizeText))
                return false;
            raw.TargetSizeGiven = true;
        } else if (arg == "--hardware") {
            if (!value(v))
                return false;
            raw.Hardware = v;
        } else if (arg == "-x" || arg == "-i") {
            if (!value(v))
                return false;
            if (!ValidOptionLine(v)) {
                error = arg + " takes NAME=VALUE on one line, not \"" + v + "\"";
                return false;
            }
            (arg == "-x" ? o.OutputExtLines : o.InputExtLines).push_back(v);
        } else if (arg == "-j" || arg == "--jobs") {
            if (!value(v))
                return false;
            std::optional<int> jobs = app::ParseIntegerText(v);
            if (!jobs || *jobs < 1 || *jobs > 64) {
                error = "-j takes a number of conversions from 1 to 64";
                return false;
            }
            o.Jobs = *jobs;
            o.JobsGiven = true;
        } else if (arg == "-q" || arg == "--quiet") {
            o.LogLevel = converter::llQuiet;
        } else if (arg == "-v" || arg == "-vv" || arg == "-vvv" || arg == "--verbose") {
            int steps = arg == "--verbose" ? 1 : static_cast<int>(arg.size()) - 1;
            int level = std::max<int>(o.LogLevel, converter::llError) + steps;
            o.LogLevel = static_cast<converter::TLogLevel>(std::min<int>(level, converter::llAll));
        } else if (arg == "--list-presets") {
            o.Command = TCommand::ListPresets;
        } else if (arg == "--info") {
            o.Command = TCommand::Info;
        } else if (arg == "--resume") {
            o.Command = TCommand::Resume;
        } else if (arg == "--save-preset") {
            if (!value(o.UserPresetName))
                return false;
            o.Command = TCommand::SavePreset;
        } else if (arg == "--import-preset") {
            if (!value(o.UserPresetFile))
                return false;
            o.Command = TCommand::ImportPreset;
        } else if (arg == "--export-preset") {
            if (!value(o.UserPresetName) || !value(o.UserPresetFile))
                return false;
            o.Command = TCommand::ExportPreset;
        } else if (arg == "--version") {
            o.Command = TCommand::Version;
        } else if (arg == "-h" || arg == "--help") {
            o.Command = TCommand::Help;
        } else {
            error = "Unknown option: " + arg;
            return false;
        }
    }

    if (o.Command == TCommand::Info && o.Files.empty()) {
        error = "--info needs a file";
        return false;
    }
    if (o.Command == TCommand::Resume && !o.Files.empty()) {
        error = "--resume takes no files";
        return false;
    }
    if (o.Command != TCommand::Convert && o.Command != TCommand::SavePreset)
        return true;
    if (o.OutputFolderGiven && o.SameFolder) {
        error = "-o and -s cannot be used together";
        return false;
    }
    // The choices are read as the preset's family takes them: the modern presets have lists
    // of their own.
    std::string presetText, ignored;
    const app::TPreset* preset = presetGiven && ResolvePreset(presetValue, presetText, ignored)
                                     ? app::FindPreset(presetText)
                                     : nullptr;
    std::optional<app::TUserPreset> own;
    if (presetGiven && !preset && o.Command == TCommand::Convert &&
        (own = ResolveUserPreset(presetValue, raw, o)))
        preset = app::FindPreset(own->Format);
    const bool applied = preset && preset->Modern ? ApplyModernChoices(raw, *preset, o, error)
                                                  : ApplyClassicChoices(raw, o, error);
    if (!applied)
        return false;
    if (std::string message = app::CheckChoices(o.Choices); !message.empty()) {
        error = message;
        return false;
    }
    if (o.Files.empty() && o.Command == TCommand::Convert) {
        error = app::MSG_CHOOSE_FILE;
        return false;
    }
    if (!presetGiven) {
        error = app::MSG_CHOOSE_FORMAT;
        return false;
    }
    if (own) {
        o.PresetText = own->Format;
        return true;
    }
    return ResolvePreset(presetValue, o.PresetText, error);
}

} // namespace mobivert::cli
