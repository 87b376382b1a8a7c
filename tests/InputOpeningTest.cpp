// Opening inputs: what an opened file leaves in the session (picture size, aspect ratio, audio
// format, duration, timestamp offset, decoder contexts), the seek to a start position, forced
// decoders, discarded streams, and the per-input reset after every opening.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/open/InputView.h"
#include "engine/open/OpenErrorText.h"
#include "engine/session/FFmpeg.h"
#include "support/LibrariesTest.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace mobivert::engine;
using mobivert::test::Fixture;

namespace {

class InputOpeningTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        session.InitSession();
        session.Verbose = -1; // keep the library's file description out of the test output
    }

    // Timestamp in seconds of the first video packet read from input 0.
    double FirstVideoPacketSeconds() {
        AVFormatContext* ic = session.InputFiles[0];
        AVPacket* packet = av::av_packet_alloc();
        double seconds = -1;
        while (av::av_read_frame(ic, packet) >= 0) {
            AVStream* st = ic->streams[packet->stream_index];
            bool video = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
            if (video && packet->pts != AV_NOPTS_VALUE)
                seconds = packet->pts * av_q2d(st->time_base);
            av::av_packet_unref(packet);
            if (seconds >= 0)
                break;
        }
        av::av_packet_free(&packet);
        return seconds;
    }

    TCustomFFmpeg session;
};

TEST_F(InputOpeningTest, OpenedFileSetsPictureAudioAndDurationAndGetsOneDecoderPerStream) {
    ASSERT_EQ(session.TotalOutputDuration, -1);
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4"))) << session.SetupError;

    EXPECT_EQ(session.InputFileCount, 1);
    ASSERT_NE(session.InputFiles[0], nullptr);
    EXPECT_EQ(session.FrameWidth, 640);
    EXPECT_EQ(session.FrameHeight, 480);
    EXPECT_NEAR(session.FrameAspectRatio, 4.0 / 3.0, 1e-4);
    EXPECT_EQ(session.FramePixFmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(session.FrameRate.num, 25);
    EXPECT_EQ(session.FrameRate.den, 1);
    EXPECT_EQ(session.AudioChannels, 2);
    EXPECT_EQ(session.AudioSampleRate, 44100);
    EXPECT_EQ(session.AudioSampleFmt, AV_SAMPLE_FMT_FLTP);
    EXPECT_EQ(session.TotalOutputDuration, 2000);
    EXPECT_EQ(session.InputTsOffsets[0], 0);

    const std::vector<AVCodecContext*>& decoders = session.InputDecoders[0];
    ASSERT_EQ(decoders.size(), 2u);
    ASSERT_NE(decoders[0], nullptr);
    ASSERT_NE(decoders[1], nullptr);
    EXPECT_EQ(decoders[0]->codec_id, AV_CODEC_ID_H264);
    EXPECT_EQ(decoders[0]->width, 640);
    EXPECT_EQ(decoders[1]->codec_id, AV_CODEC_ID_AAC);
    EXPECT_EQ(decoders[1]->sample_rate, 44100);
    EXPECT_EQ(decoders[0]->thread_count, session.ThreadCount);
}

TEST_F(InputOpeningTest, AspectRatioComesFromTheSampleAspectRatioWhenThereIsOne) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("sar_8_9.mp4"))) << session.SetupError;
    EXPECT_NEAR(session.FrameAspectRatio, 8.0 / 9.0 * 640.0 / 480.0, 1e-4); // 1.1852
}

TEST_F(InputOpeningTest, AudioOnlyFileLeavesThePictureSettingsAlone) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("mono8k.wav"))) << session.SetupError;
    EXPECT_EQ(session.FrameWidth, 0);
    EXPECT_EQ(session.FrameHeight, 0);
    EXPECT_EQ(session.FramePixFmt, -1);
    EXPECT_EQ(session.AudioChannels, 1);
    EXPECT_EQ(session.AudioSampleRate, 8000);
    EXPECT_EQ(session.AudioSampleFmt, AV_SAMPLE_FMT_S16);
    // A container without a start time seeks from 0.
    EXPECT_EQ(session.InputTsOffsets[0], 0);
}

TEST_F(InputOpeningTest, LongestInputSetsTheExpectedDuration) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("sample.mp4")));
    EXPECT_EQ(session.TotalOutputDuration, 3000);
    ASSERT_TRUE(session.OpenInputFile(Fixture("tone.mp3")));
    EXPECT_EQ(session.TotalOutputDuration, 3000); // a shorter second input changes nothing
    EXPECT_EQ(session.InputFileCount, 2);

    TCustomFFmpeg other;
    other.InitSession();
    other.Verbose = -1;
    ASSERT_TRUE(other.OpenInputFile(Fixture("tone.mp3")));
    EXPECT_EQ(other.TotalOutputDuration, 2063); // 2.063673 s, truncated to milliseconds
}

TEST_F(InputOpeningTest, StartPositionSeeksPastTheContainerStartAndBecomesTheOffset) {
    // The transport stream starts at 3600 s.
    session.ApplyOptionText("ss=10");
    ASSERT_EQ(session.StartTime, 10000000);
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264.ts"))) << session.SetupError;
    EXPECT_EQ(session.StartTime, 0);
    EXPECT_EQ(session.InputTsOffsets[0], -(10000000 + 3600000000LL));

    // Without a start position the offset is minus the container's start.
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264.ts")));
    EXPECT_EQ(session.InputTsOffsets[1], -3600000000LL);

    // "copyts" keeps the input's own timestamps: the offset is only "itsoffset".
    session.ApplyOptionText("ss=1\ncopyts\nitsoffset=2");
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264.ts")));
    EXPECT_EQ(session.InputTsOffsets[2], 2000000);
    EXPECT_EQ(session.StartTime, 0);
}

TEST_F(InputOpeningTest, StartPositionReallyMovesTheReadPosition) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("sample.mp4")));
    EXPECT_LT(FirstVideoPacketSeconds(), 0.5);
    session.FreeSession();
    session.InitSession();
    session.Verbose = -1;

    session.ApplyOptionText("ss=2");
    ASSERT_TRUE(session.OpenInputFile(Fixture("sample.mp4")));
    // Key frames come every second: the seek lands on the one at 2 s.
    EXPECT_NEAR(FirstVideoPacketSeconds(), 2.0, 0.2);
}

TEST_F(InputOpeningTest, UnknownOrWrongTypeDecoderRefusesAndIsForgotten) {
    session.ApplyOptionText("vcodec=nonexistent");
    EXPECT_FALSE(session.OpenInputFile(Fixture("h264_aac.mp4")));
    EXPECT_EQ(session.SetupError, "Unknown decoder 'nonexistent'");
    EXPECT_TRUE(session.VideoCodecName.empty());
    EXPECT_EQ(session.InputFileCount, 0);
    EXPECT_EQ(session.InputFiles[0], nullptr);

    session.ApplyOptionText("acodec=mpeg4");
    EXPECT_FALSE(session.OpenInputFile(Fixture("h264_aac.mp4")));
    EXPECT_EQ(session.SetupError, "Invalid decoder type 'mpeg4'");
    EXPECT_TRUE(session.AudioCodecName.empty());

    // The names are gone: the same file now opens.
    EXPECT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4"))) << session.SetupError;
}

TEST_F(InputOpeningTest, NamedDecoderIsForcedOnTheStreams) {
    session.ApplyOptionText("acodec=mp3float");
    ASSERT_TRUE(session.OpenInputFile(Fixture("tone.mp3"))) << session.SetupError;
    ASSERT_EQ(session.InputDecoders[0].size(), 1u);
    ASSERT_NE(session.InputDecoders[0][0]->codec, nullptr);
    EXPECT_STREQ(session.InputDecoders[0][0]->codec->name, "mp3float");
    EXPECT_TRUE(session.AudioCodecName.empty());
}

TEST_F(InputOpeningTest, PerInputStateIsResetAfterEveryOpening) {
    session.ApplyOptionText("f=mp4\nre\nvc=3");
    ASSERT_NE(session.ForcedInputFormat, nullptr);
    ASSERT_NE(session.ForcedOutputFormat, nullptr);
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4"))) << session.SetupError;
    EXPECT_EQ(session.ForcedInputFormat, nullptr);
    EXPECT_EQ(session.ForcedOutputFormat, nullptr);
    EXPECT_EQ(session.RateEmu, 0);
    EXPECT_EQ(session.VideoChannel, 0);
    EXPECT_EQ(session.InputRateEmu[0], 1);

    // The same on a refused opening: a forced format that does not fit the data.
    session.ApplyOptionText("f=wav\nre");
    EXPECT_FALSE(session.OpenInputFile(Fixture("h264_aac.mp4")));
    EXPECT_EQ(session.SetupError, Fixture("h264_aac.mp4") + ": Error while parsing header");
    EXPECT_EQ(session.ForcedInputFormat, nullptr);
    EXPECT_EQ(session.ForcedOutputFormat, nullptr);
    EXPECT_EQ(session.RateEmu, 0);
    EXPECT_EQ(session.InputFileCount, 1);
}

TEST_F(InputOpeningTest, DisabledTypesAreDiscardedAndDecoderOptionsApplied) {
    session.ApplyOptionText("an\nskip_frame=nokey");
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4"))) << session.SetupError;
    AVFormatContext* ic = session.InputFiles[0];
    EXPECT_EQ(ic->streams[1]->discard, AVDISCARD_ALL);
    EXPECT_NE(ic->streams[0]->discard, AVDISCARD_ALL);
    EXPECT_EQ(session.InputDecoders[0][0]->skip_frame, AVDISCARD_NONKEY);

    session.ApplyOptionText("vn");
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4")));
    EXPECT_EQ(session.InputFiles[1]->streams[0]->discard, AVDISCARD_ALL);

    // Only output streams consume "an" and "vn"; a further input sees them still set.
    session.VideoDisable = 0;
    session.AudioDisable = 0;
    session.ApplyOptionText("vdt=" + std::to_string(AVDISCARD_NONKEY));
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4")));
    EXPECT_EQ(session.InputFiles[2]->streams[0]->discard, AVDISCARD_NONKEY);
    EXPECT_EQ(session.InputFiles[2]->streams[1]->discard, AVDISCARD_DEFAULT);
}

TEST_F(InputOpeningTest, ProgramIdDiscardsTheOtherPrograms) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264.ts")));
    AVFormatContext* ic = session.InputFiles[0];
    ASSERT_EQ(ic->nb_programs, 1u);
    const int id = ic->programs[0]->id;
    EXPECT_NE(ic->programs[0]->discard, AVDISCARD_ALL);

    session.ProgramId = id + 1;
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264.ts")));
    EXPECT_EQ(session.InputFiles[1]->programs[0]->discard, AVDISCARD_ALL);
    for (unsigned i = 0; i < session.InputFiles[1]->nb_streams; ++i)
        EXPECT_EQ(session.InputFiles[1]->streams[i]->discard, AVDISCARD_ALL);
    // Nothing of the discarded stream was read: no size, no aspect, no pixel format.
    EXPECT_EQ(session.FrameWidth, 0);
    EXPECT_EQ(session.FrameHeight, 0);
    EXPECT_EQ(session.FrameAspectRatio, 4.0f / 3.0f);
    EXPECT_EQ(session.FramePixFmt, AV_PIX_FMT_NONE);

    session.ProgramId = id;
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264.ts")));
    EXPECT_NE(session.InputFiles[2]->programs[0]->discard, AVDISCARD_ALL);
    EXPECT_NE(session.InputFiles[2]->streams[0]->discard, AVDISCARD_ALL);
}

TEST_F(InputOpeningTest, RealMediaNamedVideoWithoutPixelFormatIsPlanar420) {
    // A stream whose data is never read reports no pixel format; the demuxer is chosen by content.
    mobivert::test::TempDir dir;
    const std::string renamed = dir.File("clip.RMVB");
    std::filesystem::copy_file(Fixture("h264.ts"), renamed);
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264.ts")));
    session.ProgramId = session.InputFiles[0]->programs[0]->id + 1;

    ASSERT_TRUE(session.OpenInputFile(Fixture("h264.ts")));
    EXPECT_EQ(session.FramePixFmt, AV_PIX_FMT_NONE);
    ASSERT_TRUE(session.OpenInputFile(renamed));
    EXPECT_EQ(session.FramePixFmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(session.InputDecoders[2][0]->pix_fmt, AV_PIX_FMT_YUV420P);
}

TEST(OpenErrorTextTest, EachErrorCodeHasItsFixedText) {
    EXPECT_EQ(OpenErrorText(AVERROR(ENOENT), "/x.avi"), "/x.avi: no such file or directory");
    EXPECT_EQ(OpenErrorText(AVERROR_DEMUXER_NOT_FOUND, "a"), "a: Unknown format");
    EXPECT_EQ(OpenErrorText(AVERROR_INVALIDDATA, "a"), "a: Error while parsing header");
    EXPECT_EQ(OpenErrorText(AVERROR(ENOMEM), "a"), "a: memory allocation error occurred");
    EXPECT_EQ(OpenErrorText(AVERROR(EIO), "a"),
              "a: I/O error occurred\r\nUsually that means that input file is truncated and/or "
              "corrupted.");
    EXPECT_EQ(OpenErrorText(AVERROR(EACCES), "a"), OpenErrorText(AVERROR(EIO), "a"));
    // The doubled percent signs of the pattern text come out single.
    EXPECT_EQ(OpenErrorText(AVERROR(EDOM), "img.jpg"),
              "img.jpg: Incorrect image filename syntax.\r\nUse '%d' to specify the image "
              "number:\r\n  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n  for img001.jpg, "
              "img002.jpg, ..., use 'img%03d.jpg'.");
    EXPECT_EQ(OpenErrorText(AVERROR(EISDIR), "d"), "d: Error while opening file");
    EXPECT_EQ(OpenErrorText(AVERROR(ENOSYS), "d"), "d: Error while opening file");
}

} // namespace

namespace {

TEST(InputReopeningTest, ASoundFileOpenedBeforeIsProbedWithASmallBudgetAndDescribedTheSame) {
    ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
    auto openFresh = [](TCustomFFmpeg& session, const std::string& path, const std::string& view) {
        session.InitSession();
        session.Verbose = -1;
        session.KnownInputFile = view.empty() ? "" : path;
        session.KnownInputView = view;
        return session.OpenInputFile(path);
    };
    for (const char* name :
         {"sine_stereo_44k.wav", "loud_7.1.wav", "mono8k.wav", "surround51_48k.flac",
          "deep_24bit.flac", "tagged.flac", "tone.mp3", "vbr_no_header.mp3", "limits_24k_5ch.ogg",
          "sound_only.m4a", "sound_only.opus"}) {
        SCOPED_TRACE(name);
        const std::string path = Fixture(name);
        TCustomFFmpeg full;
        ASSERT_TRUE(openFresh(full, path, "")) << full.SetupError;
        const std::string view = full.KnownInputView;
        ASSERT_FALSE(view.empty());
        EXPECT_EQ(full.KnownInputFile, path);
        // With the view it found, and with one it cannot find (then it probes in full again).
        for (const std::string& known : {view, std::string("not what the file holds")}) {
            TCustomFFmpeg again;
            ASSERT_TRUE(openFresh(again, path, known)) << again.SetupError;
            EXPECT_EQ(again.KnownInputView, view);
            EXPECT_EQ(again.AudioChannels, full.AudioChannels);
            EXPECT_EQ(again.AudioSampleRate, full.AudioSampleRate);
            EXPECT_EQ(again.AudioSampleFmt, full.AudioSampleFmt);
            EXPECT_EQ(again.TotalOutputDuration, full.TotalOutputDuration);
            const int64_t fullRead = full.InputFiles[0]->pb->pos;
            const int64_t read = again.InputFiles[0]->pb->pos;
            if (known == view && fullRead > 8 * REOPEN_PROBE_SIZE) {
                EXPECT_LT(read, fullRead / 2);
            }
            if (known != view) {
                EXPECT_EQ(read, fullRead);
            }
            // The session keeps what it knows through its next set-up.
            again.InitSession();
            EXPECT_EQ(again.KnownInputView, view);
        }
    }
    // Pictures are always probed in full.
    TCustomFFmpeg video;
    ASSERT_TRUE(openFresh(video, Fixture("h264_aac.mp4"), "")) << video.SetupError;
    EXPECT_TRUE(video.KnownInputView.empty());
}

} // namespace
