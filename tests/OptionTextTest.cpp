// The option text and the option table: line splitting, the value conversions with their
// messages, flags and plain values, durations and dates, the ignored and refused names, the
// component's setters, and option texts that are hostile or broken.

#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/options/ValueConversion.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"
#include "support/LibrariesTest.h"
#include "support/ScopedVariable.h"
#include "support/TempDir.h"

#include <clocale>
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>

using namespace mobivert::engine;
using mobivert::test::ScopedVariable;
using mobivert::test::TempDir;
using testing::HasSubstr;

namespace {

struct LogLine {
    int level;
    std::string text;
};

class OptionTextTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        session.InitSession();
        session.OnLog = [this](TCustomFFmpeg&, int level, const std::string& text) {
            log.push_back({level, text});
        };
    }

    // The message of the refusal an option text raises, or "" when it raises none.
    std::string Refusal(const std::string& text) {
        try {
            session.ApplyOptionText(text);
        } catch (const FFMpegException& e) {
            return e.what();
        }
        return "";
    }

    TCustomFFmpeg session;
    std::vector<LogLine> log;
};

TEST_F(OptionTextTest, LinesSplitAtEveryKindOfBreakAndKeepNoBreakCharacters) {
    session.ApplyOptionText("vcodec=mpeg4\r\n\nacodec=mp2\rar=22050");
    EXPECT_EQ(session.VideoCodecName, "mpeg4");
    EXPECT_EQ(session.AudioCodecName, "mp2");
    EXPECT_EQ(session.AudioSampleRate, 22050);

    // Further "=" belong to the value; the whole text is trimmed, single lines are not.
    session.ApplyOptionText("  \t title=a=b \r\n comment=x\n\n");
    EXPECT_EQ(session.MetaTitle, "a=b ");
    EXPECT_EQ(session.MetaComment, "");

    // A line without "=" is a name with an empty value.
    session.ApplyOptionText("an");
    EXPECT_EQ(session.AudioDisable, 1);
}

TEST_F(OptionTextTest, NameWithLeadingBlankOnALaterLineIsDroppedSilently) {
    session.ApplyOptionText("vn\n vcodec=mpeg4\n" + std::string("nosuchoption=5"));
    EXPECT_EQ(session.VideoDisable, 1);
    EXPECT_EQ(session.VideoCodecName, "");
    EXPECT_TRUE(session.CodecOptNames.empty());
    EXPECT_TRUE(log.empty());
    // On the first line the blank goes with the trimming of the whole text.
    session.ApplyOptionText(" vcodec=mpeg4");
    EXPECT_EQ(session.VideoCodecName, "mpeg4");
}

TEST_F(OptionTextTest, FlagsIgnoreTheirValue) {
    session.ApplyOptionText("vn=0\nan=no\ncopyts=0");
    EXPECT_EQ(session.VideoDisable, 1);
    EXPECT_EQ(session.AudioDisable, 1);
    EXPECT_TRUE(session.CopyTs);
}

TEST_F(OptionTextTest, IntegerSyntaxAndItsMessage) {
    session.ApplyOptionText("vframes=$10\naframes=  -0x1F\ndframes=+X7f\nvol=0X100\nvc=-12");
    EXPECT_EQ(session.MaxFrames[0], 16);
    EXPECT_EQ(session.MaxFrames[1], -31);
    EXPECT_EQ(session.MaxFrames[2], 127);
    EXPECT_EQ(session.MaxFrames[3], 2147483647);
    EXPECT_EQ(session.AudioVolume, 256);
    EXPECT_EQ(session.VideoChannel, -12);

    EXPECT_EQ(Refusal("vframes="), "'' is not a valid integer value");
    EXPECT_EQ(Refusal("vframes=12abc"), "'12abc' is not a valid integer value");
    EXPECT_EQ(Refusal("vframes=12 \nan"), "'12 ' is not a valid integer value");
    EXPECT_EQ(Refusal("vframes=\t12"), "'\t12' is not a valid integer value");
    EXPECT_EQ(Refusal("vframes=1.5"), "'1.5' is not a valid integer value");
    EXPECT_EQ(Refusal("vframes=0x"), "'0x' is not a valid integer value");
    EXPECT_EQ(Refusal("vframes=--1"), "'--1' is not a valid integer value");
    EXPECT_EQ(Refusal("vframes=2147483648"), "'2147483648' is not a valid integer value");
    EXPECT_EQ(Refusal("vframes=99999999999999999999"),
              "'99999999999999999999' is not a valid integer value");
    EXPECT_EQ(session.MaxFrames[0], 16);

    // The limits themselves, and the 64-bit kind.
    session.ApplyOptionText("vframes=-2147483648\naframes=2147483647\nfs=9000000000");
    EXPECT_EQ(session.MaxFrames[0], -2147483647 - 1);
    EXPECT_EQ(session.MaxFrames[1], 2147483647);
    EXPECT_EQ(session.LimitFileSize, 9000000000u);
    EXPECT_EQ(Refusal("fs=9223372036854775808"),
              "'9223372036854775808' is not a valid integer value");
    // Hexadecimal texts name the bit pattern.
    session.ApplyOptionText("vframes=$FFFFFFFF");
    EXPECT_EQ(session.MaxFrames[0], -1);
}

TEST_F(OptionTextTest, EmptyFilterChainKeepsThePreviousOne) {
    session.ApplyOptionText("vfilters=hflip");
    session.ApplyOptionText("vfilters=");
    EXPECT_EQ(session.VideoFilters, "hflip");
}

// Switches the C library's numbers to a locale with a decimal comma for the test's lifetime,
// compiling the locale into a temporary folder when the system has none installed.
class CommaLocale {
public:
    CommaLocale() {
        if (Try())
            return;
        std::string command =
            "localedef -i de_DE -f UTF-8 " + dir_.File("de_DE.UTF-8") + " >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0) {
            locPath_.emplace("LOCPATH", dir_.Path().string());
            Try();
        }
    }
    ~CommaLocale() { std::setlocale(LC_NUMERIC, "C"); }
    bool Active() const { return active_; }

private:
    bool Try() {
        active_ = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr &&
                  std::strtod("1,5", nullptr) == 1.5;
        return active_;
    }
    TempDir dir_;
    std::optional<ScopedVariable> locPath_;
    bool active_ = false;
};

TEST_F(OptionTextTest, FloatsUseADecimalPointWhateverTheLocale) {
    CommaLocale comma;
    if (!comma.Active())
        GTEST_SKIP() << "no locale with a decimal comma can be made here";
    session.ApplyOptionText("aq=1.5\nmuxdelay=0.25\nmuxpreload= 2e-1\nadrift_threshold=-3\n"
                            "dts_delta_threshold=.5");
    EXPECT_FLOAT_EQ(session.AudioQScale, 1.5f);
    EXPECT_FLOAT_EQ(session.MuxMaxDelay, 0.25f);
    EXPECT_FLOAT_EQ(session.MuxPreload, 0.2f);
    EXPECT_FLOAT_EQ(session.AudioDriftThreshold, -3.0f);
    EXPECT_FLOAT_EQ(session.DtsDeltaThreshold, 0.5f);
    EXPECT_EQ(Refusal("aq=1,5"), "'1,5' is not a valid floating point value");
    session.ApplyOptionText("itsscale=1:0.5");
    EXPECT_DOUBLE_EQ(session.InputTsScales[0][1], 0.5);
    session.ApplyOptionText("aspect=1.5");
    EXPECT_FLOAT_EQ(session.FrameAspectRatio, 1.5f);
}

TEST_F(OptionTextTest, FloatRefusals) {
    for (std::string bad : {"", "abc", "1.5x", "nan", "inf", "1e999", "0x10", ".", "1e"})
        EXPECT_EQ(Refusal("aq=" + bad), "'" + bad + "' is not a valid floating point value") << bad;
    EXPECT_FLOAT_EQ(session.AudioQScale, -99999.0f);
}

TEST_F(OptionTextTest, DurationsAndDates) {
    // A recording time of 0 changes nothing.
    session.ApplyOptionText("t=0");
    EXPECT_EQ(session.RecordingTime, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(session.TotalOutputDuration, -1);
    session.ApplyOptionText("t=01:00:00");
    EXPECT_EQ(session.RecordingTime, 3600000000LL);
    EXPECT_EQ(session.TotalOutputDuration, 3600000);
    // Whole milliseconds: the rest of a microsecond duration is cut off.
    session.ApplyOptionText("t=1.0025");
    EXPECT_EQ(session.RecordingTime, 1002000);
    EXPECT_EQ(session.TotalOutputDuration, 1002);

    session.ApplyOptionText("ss=00:00:05.5\nitsoffset=-2");
    EXPECT_EQ(session.StartTime, 5500000);
    EXPECT_EQ(session.InputTsOffset, -2000000);

    // Dates become whole seconds, halves rounded to the even second.
    session.ApplyOptionText("timestamp=1970-01-01 00:00:02.5Z");
    EXPECT_EQ(session.RecTimestamp, 2);
    session.ApplyOptionText("timestamp=1970-01-01 00:00:03.5Z");
    EXPECT_EQ(session.RecTimestamp, 4);
    session.ApplyOptionText("timestamp=2001-02-03 04:05:06.7Z");
    EXPECT_EQ(session.RecTimestamp, 981173107);

    EXPECT_EQ(Refusal("t=abc"), "Invalid duration specification for t: abc");
    EXPECT_EQ(Refusal("ss="), "Invalid duration specification for ss: ");
    EXPECT_EQ(Refusal("timestamp=yesterday"),
              "Invalid date specification for timestamp: yesterday");
    EXPECT_EQ(session.RecordingTime, 1002000);
}

TEST_F(OptionTextTest, IgnoredNamesOnlyLogAndThreadsTakesACountOrZero) {
    session.ApplyOptionText("y\nbenchmark=1\ni=input.avi");
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].level, 1);
    EXPECT_EQ(log[0].text, "Do nothing: option - y");
    EXPECT_EQ(log[1].text, "Do nothing: option - benchmark");
    EXPECT_EQ(log[2].text, "Do nothing: option - i");

    EXPECT_EQ(session.ThreadCount, 0); // automatic unless asked for
    session.ApplyOptionText("threads=2");
    EXPECT_EQ(session.ThreadCount, 2);
    EXPECT_EQ(Refusal("threads=-1"), "threads must be 0 (automatic) or more");
    EXPECT_EQ(Refusal("threads=two"), "'two' is not a valid integer value");
    EXPECT_EQ(session.ThreadCount, 2);
    session.ApplyOptionText("threads=0");
    EXPECT_EQ(session.ThreadCount, 0);

    session.OnLog = nullptr;
    EXPECT_NO_THROW(session.ApplyOptionText("version\nh"));
}

TEST_F(OptionTextTest, FirstRefusalEndsTheWalkAndKeepsWhatCameBefore) {
    EXPECT_EQ(Refusal("vn\npass=3\nan"), "pass number can be only 1 or 2");
    EXPECT_EQ(session.VideoDisable, 1);
    EXPECT_EQ(session.AudioDisable, 0);
}

TEST_F(OptionTextTest, ComponentSettersKeepTheirGuards) {
    session.SetRecordingTimeMs(0);
    session.SetStartTimeUs(-5);
    session.SetProgramId(-1);
    session.SetAudioVolume(-1);
    session.SetMuxPreload(-0.5f);
    session.SetMetaTrack(-3);
    session.SetMetaTitle("");
    EXPECT_EQ(session.RecordingTime, std::numeric_limits<int64_t>::max());
    EXPECT_EQ(session.StartTime, 0);
    EXPECT_EQ(session.ProgramId, 0);
    EXPECT_EQ(session.AudioVolume, 256);
    EXPECT_FLOAT_EQ(session.MuxPreload, 0.5f);
    EXPECT_EQ(session.MetaTrack, 0);
    session.SetMetaTitle("song");
    session.SetMetaTitle("");
    EXPECT_EQ(session.MetaTitle, "song");

    // A duration beyond the 32-bit millisecond count keeps the largest count it can report.
    session.SetRecordingTimeMs(int64_t(1) << 40);
    EXPECT_EQ(session.RecordingTime, (int64_t(1) << 40) * 1000);
    EXPECT_EQ(session.TotalOutputDuration, 2147483647);
}

// ---- Hostile option texts: none may crash or write past the session's tables.

TEST_F(OptionTextTest, StreamMapTableRefusesThe401stEntry) {
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += "map=0:" + std::to_string(i % 20) + "\n";
    EXPECT_EQ(Refusal(text), "Too many stream maps: at most 400 are possible");
    EXPECT_EQ(session.StreamMapCount, 400);
    EXPECT_EQ(session.StreamMaps[399].StreamIndex, 399 % 20);
    // The refusal does not disturb what follows the table.
    EXPECT_EQ(session.MetaDataMapCount, 0);

    text.clear();
    for (int i = 0; i < 30; ++i)
        text += "map_meta_data=" + std::to_string(i) + ":0\r\n";
    EXPECT_EQ(Refusal(text), "Too many meta-data maps: at most 20 are possible");
    EXPECT_EQ(session.MetaDataMapCount, 20);
    EXPECT_EQ(session.MetaDataMaps[19].OutFile, 19);
}

TEST_F(OptionTextTest, LongBinaryAndHugeValuesAreRefusedOrStoredSafely) {
    std::string huge(10000, '9');
    std::string longText(10000, 'x');
    for (const char* name : {"vframes", "fs", "croptop", "padcolor", "pass", "ar"})
        EXPECT_EQ(Refusal(std::string(name) + "=" + huge),
                  "'" + huge + "' is not a valid integer value");
    EXPECT_EQ(Refusal("aq=" + huge), "'" + huge + "' is not a valid floating point value");
    EXPECT_THAT(Refusal("t=" + huge), HasSubstr("Invalid duration specification for t"));
    EXPECT_EQ(Refusal("r=" + longText), "Incorrect frame rate");
    EXPECT_EQ(Refusal("s=" + longText), "Incorrect frame size");
    EXPECT_EQ(Refusal("f=" + longText), "Unknown input or output format: " + longText);
    EXPECT_THAT(Refusal("intra_matrix=" + longText), HasSubstr("Syntax error in matrix"));
    EXPECT_EQ(Refusal("vcodec=" + longText + "\ntitle=" + longText + "\n" + longText + "=1"), "");
    EXPECT_EQ(session.VideoCodecName, longText);
    EXPECT_EQ(session.MetaTitle, longText);

    // Huge and negative numbers in the structured values.
    session.ApplyOptionText("map=99999999999999:-99999999999999:0x7fffffffffff:-1");
    EXPECT_EQ(session.StreamMaps[0].FileIndex, 2147483647);
    EXPECT_EQ(session.StreamMaps[0].StreamIndex, -2147483647 - 1);
    EXPECT_EQ(session.StreamMaps[0].SyncFileIndex, 2147483647);
    EXPECT_EQ(session.StreamMaps[0].SyncStreamIndex, -1);
    EXPECT_EQ(Refusal("itsscale=-1:2"), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(Refusal("itsscale=4294967296:2"), "stream index over MAX_STREAMS(20)");
    session.ApplyOptionText("croptop=-2147483648\npadleft=-2\npadcolor=-1\nar=-44100");
    EXPECT_EQ(session.FrameTopBand, 0);
    EXPECT_EQ(session.FramePadLeft, 0);
    EXPECT_EQ(session.PadColor, (std::array<int32_t, 3>{255, 128, 128}));
    EXPECT_EQ(session.AudioSampleRate, 44100);

    // Every byte value, in one long text of many short lines and one very long one.
    std::string binary;
    for (int round = 0; round < 64; ++round)
        for (int c = 0; c < 256; ++c)
            binary.push_back(static_cast<char>(c ^ round));
    std::string veryLong = "comment=" + std::string(1 << 20, 'y') + "\n" + binary;
    try {
        session.ApplyOptionText(veryLong);
    } catch (const FFMpegException&) {
    }
    EXPECT_EQ(session.MetaComment.size(), size_t(1) << 20);
    EXPECT_LE(session.StreamMapCount, MAX_STREAM_MAPS);
    EXPECT_LE(session.MetaDataMapCount, MAX_META_DATA_MAPS);
}

TEST_F(OptionTextTest, ValueConversionsAreExact) {
    int32_t value = 0;
    EXPECT_TRUE(TryStrToInt("   +42", value));
    EXPECT_EQ(value, 42);
    EXPECT_TRUE(TryStrToInt("-$80000000", value));
    EXPECT_EQ(value, -2147483647 - 1);
    EXPECT_FALSE(TryStrToInt("$100000000", value));
    EXPECT_FALSE(TryStrToInt("+", value));
    EXPECT_FALSE(TryStrToInt(std::string("1\0", 2), value));
    int64_t wide = 0;
    EXPECT_TRUE(TryStrToInt64("-9223372036854775808", wide));
    EXPECT_EQ(wide, std::numeric_limits<int64_t>::min());
    EXPECT_FALSE(TryStrToInt64("-9223372036854775809", wide));

    size_t end = 0;
    EXPECT_DOUBLE_EQ(LeadingDouble("x:  -2.5e1rest", 2, end), -25.0);
    EXPECT_EQ(end, 10u);
    EXPECT_DOUBLE_EQ(LeadingDouble("abc", 0, end), 0.0);
    EXPECT_EQ(end, 0u);
    EXPECT_EQ(TrimControl("\x01\t a b \r\n\x1f"), "a b");
}

} // namespace
