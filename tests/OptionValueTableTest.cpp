// The options that only convert their value and store it: for each, a value in range is stored,
// and a malformed or out-of-range value is refused with its message and leaves the field as it
// was. Flags store their mark whatever their value; texts are kept as given.

#include "engine/options/ValueOptions.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"
#include "support/LibrariesTest.h"

#include <functional>
#include <gtest/gtest.h>
#include <set>

using namespace mobivert::engine;

namespace {

using NumberReader = std::function<double(const TCustomFFmpeg&)>;
using TextReader = std::function<std::string(const TCustomFFmpeg&)>;

struct NumberCase {
    const char* Name;
    const char* InRange;
    double Stored;
    NumberReader Read;
    const char* Malformed;
    const char* MalformedMessage;
    const char* OutOfRange = nullptr; // nullptr: every number of the type is taken
    const char* OutOfRangeMessage = nullptr;
};

const char* const kInt = "'1x' is not a valid integer value";
const char* const kFloat = "'1,5' is not a valid floating point value";

const std::vector<NumberCase>& NumberCases() {
    static const std::vector<NumberCase> cases = {
        {"vframes", "7", 7, [](auto& s) { return s.MaxFrames[0]; }, "1x", kInt},
        {"aframes", "-8", -8, [](auto& s) { return s.MaxFrames[1]; }, "1x", kInt},
        {"dframes", "0x10", 16, [](auto& s) { return s.MaxFrames[2]; }, "1x", kInt},
        {"loop_output", "3", 3, [](auto& s) { return s.LoopOutput; }, "1x", kInt},
        {"vsync", "2", 2, [](auto& s) { return s.VideoSyncMethod; }, "1x", kInt},
        {"async", "5", 5, [](auto& s) { return s.AudioSyncMethod; }, "1x", kInt},
        {"vglobal", "1", 1, [](auto& s) { return s.VideoGlobalHeader; }, "1x", kInt},
        {"programid", "-4", -4, [](auto& s) { return s.ProgramId; }, "1x", kInt},
        {"vdt", "9", 9, [](auto& s) { return s.VideoDiscard; }, "1x", kInt},
        {"me_threshold", "11", 11, [](auto& s) { return s.MeThreshold; }, "1x", kInt},
        {"top", "0", 0, [](auto& s) { return s.TopFieldFirst; }, "1x", kInt},
        {"dc", "10", 10, [](auto& s) { return s.IntraDcPrecision; }, "1x", kInt},
        {"vol", "512", 512, [](auto& s) { return s.AudioVolume; }, "1x", kInt},
        {"vc", "-3", -3, [](auto& s) { return s.VideoChannel; }, "1x", kInt},
        {"fs", "9000000000", 9e9, [](auto& s) { return double(s.LimitFileSize); }, "1x", kInt},
        {"threads", "3", 3, [](auto& s) { return s.ThreadCount; }, "1x", kInt, "-1",
         "threads must be 0 (automatic) or more"},
        {"pass", "2", 2, [](auto& s) { return s.DoPass; }, "1x", kInt, "3",
         "pass number can be only 1 or 2"},
        {"adrift_threshold", "0.25", 0.25, [](auto& s) { return s.AudioDriftThreshold; }, "1,5",
         kFloat},
        {"dts_delta_threshold", "2.5", 2.5, [](auto& s) { return s.DtsDeltaThreshold; }, "1,5",
         kFloat},
        {"aq", "-1.5", -1.5, [](auto& s) { return s.AudioQScale; }, "1,5", kFloat},
        {"muxdelay", "0.125", 0.125, [](auto& s) { return s.MuxMaxDelay; }, "1,5", kFloat},
        {"muxpreload", "1e-1", 0.1f, [](auto& s) { return s.MuxPreload; }, "1,5", kFloat},
        {"qscale", "255", 255, [](auto& s) { return s.VideoQScale; }, "1,5", kFloat, "0",
         "qscale must be > 0.0 and <= 255"},
        {"ss", "1.5", 1500000, [](auto& s) { return double(s.StartTime); }, "abc",
         "Invalid duration specification for ss: abc"},
        {"itsoffset", "-00:00:02", -2000000, [](auto& s) { return double(s.InputTsOffset); }, "x",
         "Invalid duration specification for itsoffset: x"},
    };
    return cases;
}

struct FlagCase {
    const char* Name;
    NumberReader Read;
    double Stored;
};

const std::vector<FlagCase>& FlagCases() {
    static const std::vector<FlagCase> cases = {
        {"dump", [](auto& s) { return s.DoPktDump; }, 1},
        {"hex", [](auto& s) { return s.DoHexDump; }, 1},
        {"re", [](auto& s) { return s.RateEmu; }, 1},
        {"loop_input", [](auto& s) { return s.LoopInput; }, 1},
        {"copyts", [](auto& s) { return s.CopyTs; }, 1},
        {"shortest", [](auto& s) { return s.Shortest; }, 1},
        {"xerror", [](auto& s) { return s.ExitOnError; }, 1},
        {"intra", [](auto& s) { return s.IntraOnly; }, 1},
        {"vn", [](auto& s) { return s.VideoDisable; }, 1},
        {"sameq", [](auto& s) { return s.SameQuality; }, 1},
        {"deinterlace", [](auto& s) { return s.DoDeinterlace; }, 1},
        {"noautorotate", [](auto& s) { return s.AutoRotate; }, 0},
        {"psnr", [](auto& s) { return s.DoPsnr; }, 1},
        {"qphist", [](auto& s) { return s.QpHist; }, 1},
        {"an", [](auto& s) { return s.AudioDisable; }, 1},
        {"sn", [](auto& s) { return s.SubtitleDisable; }, 1},
        {"isync", [](auto& s) { return s.InputSync; }, 1},
    };
    return cases;
}

struct TextCase {
    const char* Name;
    TextReader Read;
};

const std::vector<TextCase>& TextCases() {
    static const std::vector<TextCase> cases = {
        {"title", [](auto& s) { return s.MetaTitle; }},
        {"author", [](auto& s) { return s.MetaAuthor; }},
        {"copyright", [](auto& s) { return s.MetaCopyright; }},
        {"comment", [](auto& s) { return s.MetaComment; }},
        {"genre", [](auto& s) { return s.MetaGenre; }},
        {"album", [](auto& s) { return s.MetaAlbum; }},
        {"passlogfile", [](auto& s) { return s.PassLogFileName; }},
        {"alang", [](auto& s) { return s.AudioLanguage; }},
        {"slang", [](auto& s) { return s.SubtitleLanguage; }},
        {"tvstd", [](auto& s) { return s.VideoStandard; }},
        {"vstats_file", [](auto& s) { return s.VStatsFileName; }},
        {"rc_override", [](auto& s) { return s.VideoRcOverride.value_or("(not set)"); }},
    };
    return cases;
}

class OptionValueTableTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        session.InitSession();
    }

    std::string Refusal(const std::string& name, const std::string& value) {
        try {
            session.SetOption(name, value);
        } catch (const FFMpegException& e) {
            return e.what();
        }
        return "";
    }

    TCustomFFmpeg session;
};

TEST_F(OptionValueTableTest, NumbersInRangeAreStoredAndOthersRefusedWithTheirMessage) {
    for (const NumberCase& c : NumberCases()) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Refusal(c.Name, c.InRange), "");
        EXPECT_FLOAT_EQ(c.Read(session), c.Stored);
        EXPECT_EQ(Refusal(c.Name, c.Malformed), c.MalformedMessage);
        EXPECT_FLOAT_EQ(c.Read(session), c.Stored);
        if (c.OutOfRange) {
            EXPECT_EQ(Refusal(c.Name, c.OutOfRange), c.OutOfRangeMessage);
            EXPECT_FLOAT_EQ(c.Read(session), c.Stored);
        }
        // The option check of the component says the same.
        TCustomFFmpeg scratch;
        scratch.InitSession();
        EXPECT_EQ(scratch.OptionRefusal(c.Name, c.Malformed),
                  std::string("option \"") + c.Name + "\": " + c.MalformedMessage);
    }
}

TEST_F(OptionValueTableTest, RangesIncludeTheirEndsAndExcludeWhatLiesBeyond) {
    EXPECT_EQ(Refusal("threads", "0"), "");
    EXPECT_EQ(Refusal("threads", "2147483647"), "");
    EXPECT_EQ(session.ThreadCount, 2147483647);
    EXPECT_EQ(Refusal("pass", "1"), "");
    EXPECT_EQ(session.DoPass, 1);
    EXPECT_EQ(Refusal("pass", "0"), "pass number can be only 1 or 2");
    EXPECT_EQ(session.DoPass, 1);
    // The quantiser's lower end is open, its upper end closed; a number beyond the range of a
    // single-precision field is out of range, not malformed.
    EXPECT_EQ(Refusal("qscale", "0.001"), "");
    EXPECT_FLOAT_EQ(session.VideoQScale, 0.001f);
    EXPECT_EQ(Refusal("qscale", "-1"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(Refusal("qscale", "255.0001"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(Refusal("qscale", "1e39"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(Refusal("aq", "1e39"), "'1e39' is not a valid floating point value");
    EXPECT_FLOAT_EQ(session.VideoQScale, 0.001f);
}

TEST_F(OptionValueTableTest, FlagsStoreTheirMarkWhateverTheirValue) {
    for (const FlagCase& c : FlagCases()) {
        SCOPED_TRACE(c.Name);
        EXPECT_NE(c.Read(session), c.Stored);
        EXPECT_EQ(Refusal(c.Name, "0"), "");
        EXPECT_EQ(c.Read(session), c.Stored);
    }
}

TEST_F(OptionValueTableTest, TextsAreKeptAsGivenEmptyOnesToo) {
    for (const TextCase& c : TextCases()) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Refusal(c.Name, " a=b "), "");
        EXPECT_EQ(c.Read(session), " a=b ");
        EXPECT_EQ(Refusal(c.Name, ""), "");
        EXPECT_EQ(c.Read(session), "");
    }
}

TEST_F(OptionValueTableTest, EveryValueOptionIsCoveredHereAndHasNoHandlerBesides) {
    std::set<std::string> covered;
    for (const NumberCase& c : NumberCases())
        covered.insert(c.Name);
    for (const FlagCase& c : FlagCases())
        covered.insert(c.Name);
    for (const TextCase& c : TextCases())
        covered.insert(c.Name);
    std::set<std::string> declared;
    for (const ValueOption& option : ValueOptions()) {
        EXPECT_TRUE(declared.insert(option.Name).second) << "declared twice: " << option.Name;
        EXPECT_EQ(FindValueOption(option.Name), &option);
    }
    EXPECT_EQ(declared, covered);
    EXPECT_EQ(FindValueOption("vcodec"), nullptr);
    EXPECT_EQ(FindValueOption("bogus_name"), nullptr);
}

} // namespace
