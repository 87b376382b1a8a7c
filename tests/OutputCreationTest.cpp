// Creating outputs: which streams an output gets, how their encoder contexts are filled from the
// options (frame rate, aspect, formats, quantisers, overrides, languages, headers), the filter
// refusals, the new-stream options, and what a finished file holds when read back by the probe,
// GStreamer's discoverer and MediaInfo.

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "converter/AVProbe.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"
#include "support/LibrariesTest.h"
#include "support/OutputWriting.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace mobivert::engine;
using mobivert::converter::TAVProbe;
using namespace mobivert::test;

namespace {

class OutputCreationTest : public mobivert::test::LibrariesTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LibrariesTest::SetUp());
        session.InitSession();
        session.Verbose = -1;
    }

    AVFormatContext* Output(int index = 0) { return session.OutputFiles[index]; }
    AVCodecContext* Encoder(int stream, int file = 0) {
        auto& encoders = session.OutputEncoders[file];
        return stream < static_cast<int>(encoders.size()) ? encoders[stream] : nullptr;
    }
    AVMediaType StreamType(int stream, int file = 0) {
        return Output(file)->streams[stream]->codecpar->codec_type;
    }

    TempDir dir;
    TCustomFFmpeg session;
};

TEST_F(OutputCreationTest, Mp4OutputGetsTheFormatDefaultsAndTheInputSettings) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4")));
    ASSERT_TRUE(session.OpenOutputFile(dir.File("out.mp4"))) << session.SetupError;

    ASSERT_EQ(session.OutputFileCount, 1);
    ASSERT_EQ(Output()->nb_streams, 2u);
    EXPECT_EQ(StreamType(0), AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(StreamType(1), AVMEDIA_TYPE_AUDIO);
    const AVOutputFormat* mp4 = av::av_guess_format("mp4", nullptr, nullptr);
    ASSERT_NE(mp4->video_codec, AV_CODEC_ID_NONE);
    EXPECT_EQ(Encoder(0)->codec_id, mp4->video_codec);
    EXPECT_EQ(Encoder(1)->codec_id, mp4->audio_codec);
    EXPECT_EQ(Encoder(0)->width, 640);
    EXPECT_EQ(Encoder(0)->height, 480);
    EXPECT_EQ(Encoder(0)->time_base.num, 1);
    EXPECT_EQ(Encoder(0)->time_base.den, 25);
    EXPECT_EQ(Encoder(0)->pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(Encoder(1)->sample_rate, 44100);
    EXPECT_EQ(Encoder(1)->ch_layout.nb_channels, 2);
    EXPECT_EQ(Encoder(1)->time_base.den, 44100);
    // MP4 keeps codec headers globally.
    EXPECT_TRUE(Encoder(0)->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_TRUE(Encoder(1)->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_FALSE(session.OutputStreamCopy[0][0]);
    EXPECT_EQ(session.ForcedOutputFormat, nullptr);
    EXPECT_TRUE(std::filesystem::exists(dir.File("out.mp4")));

    // "vn" leaves only the audio stream.
    session.ApplyOptionText("vn");
    ASSERT_TRUE(session.OpenOutputFile(dir.File("audio.mp4"))) << session.SetupError;
    ASSERT_EQ(Output(1)->nb_streams, 1u);
    EXPECT_EQ(StreamType(0, 1), AVMEDIA_TYPE_AUDIO);
    // Only a created video stream consumes "vn": it still holds for the next output.
    EXPECT_EQ(session.VideoDisable, 1);
}

TEST_F(OutputCreationTest, TypesNoInputHasAreNotCreatedEvenWhenACodecIsNamed) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264.ts"))); // video only
    session.ApplyOptionText("acodec=mp2\nvcodec=mpeg1video");
    ASSERT_TRUE(session.OpenOutputFile(dir.File("out.mpg"))) << session.SetupError;
    ASSERT_EQ(Output()->nb_streams, 1u);
    EXPECT_EQ(StreamType(0), AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(Encoder(0)->codec_id, AV_CODEC_ID_MPEG1VIDEO);
    EXPECT_TRUE(session.VideoCodecName.empty());
}

TEST_F(OutputCreationTest, FilterConflictsAreRefusedAndLeaveNoOutput) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4")));

    session.ApplyOptionText("vfilters=scale=320:240\npadtop=8");
    EXPECT_FALSE(session.OpenOutputFile(dir.File("a.mp4")));
    EXPECT_EQ(session.SetupError, "Cannot enable pad options and the filters which resize frame "
                                  "at the same time. (crop, rotate, scale, transpose, etc.)");

    session.VideoFilters = "hflip";
    ASSERT_TRUE(session.OpenOutputFile(dir.File("b.mp4"))) << session.SetupError;
    EXPECT_TRUE(session.FiltersEnabled);
    EXPECT_EQ(Encoder(0)->height, 480 + 8);

    session.FramePadTop = 0;
    session.ApplyOptionText("vfilters=crop=100:100\ncroptop=8");
    EXPECT_FALSE(session.OpenOutputFile(dir.File("c.mp4")));
    EXPECT_EQ(session.SetupError, "Cannot enable crop options and filters at the same time.");

    EXPECT_EQ(session.OutputFileCount, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("a.mp4")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("c.mp4")));
}

TEST(ChainResizesPictureTest, OnlySizeChangingFilterNamesCount) {
    EXPECT_TRUE(TCustomFFmpeg::ChainResizesPicture("scale=320:240"));
    EXPECT_TRUE(TCustomFFmpeg::ChainResizesPicture("hflip,Transpose=1"));
    EXPECT_TRUE(TCustomFFmpeg::ChainResizesPicture("CROP"));
    EXPECT_FALSE(TCustomFFmpeg::ChainResizesPicture(""));
    EXPECT_FALSE(TCustomFFmpeg::ChainResizesPicture("hflip,vflip"));
    EXPECT_FALSE(TCustomFFmpeg::ChainResizesPicture("scaler,cropdetect"));
    EXPECT_FALSE(TCustomFFmpeg::ChainResizesPicture("drawtext=text=scale"));
}

TEST_F(OutputCreationTest, TimeBaseIsTheNearestRateTheEncoderSupports) {
    // MPEG-1 video supports 24000/1001, 24, 25, 30000/1001, 30, 50, 60000/1001, 60 and a few
    // low rates.
    struct Case {
        Rational rate;
        AVRational timeBase;
    };
    const Case cases[] = {{{30, 1}, {1, 30}},
                          {{0, 0}, {1, 25}},
                          {{29, 1}, {1001, 30000}},
                          {{24000, 1001}, {1001, 24000}},
                          {{100, 1}, {1, 60}}};
    int file = 0;
    for (const Case& c : cases) {
        session.FrameRate = c.rate;
        session.ApplyOptionText("vcodec=mpeg1video\nan");
        ASSERT_TRUE(session.OpenOutputFile(dir.File("r" + std::to_string(file) + ".mpg")))
            << session.SetupError;
        AVCodecContext* enc = Encoder(0, file);
        EXPECT_EQ(enc->time_base.num, c.timeBase.num) << c.rate.num << "/" << c.rate.den;
        EXPECT_EQ(enc->time_base.den, c.timeBase.den) << c.rate.num << "/" << c.rate.den;
        ++file;
    }
    // An encoder without a list takes the rate as it is.
    session.FrameRate = {30000, 1001};
    session.ApplyOptionText("vcodec=mpeg4\nan");
    ASSERT_TRUE(session.OpenOutputFile(dir.File("free.mp4")));
    EXPECT_EQ(Encoder(0, file)->time_base.num, 1001);
    EXPECT_EQ(Encoder(0, file)->time_base.den, 30000);
}

TEST_F(OutputCreationTest, SampleAspectRatioComesFromTheDisplayAspectAndTheSize) {
    session.FrameAspectRatio = 16.0f / 9.0f;
    session.FrameWidth = 720;
    session.FrameHeight = 576;
    session.ApplyOptionText("vcodec=mpeg4\nan");
    ASSERT_TRUE(session.OpenOutputFile(dir.File("wide.mp4")));
    EXPECT_EQ(Encoder(0)->sample_aspect_ratio.num, 64);
    EXPECT_EQ(Encoder(0)->sample_aspect_ratio.den, 45);
    EXPECT_EQ(Output()->streams[0]->sample_aspect_ratio.num, 64);
    EXPECT_EQ(Output()->streams[0]->sample_aspect_ratio.den, 45);

    session.FrameAspectRatio = 4.0f / 3.0f;
    session.FrameWidth = 640;
    session.FrameHeight = 480;
    session.ApplyOptionText("vcodec=mpeg4\nan");
    ASSERT_TRUE(session.OpenOutputFile(dir.File("square.mp4")));
    EXPECT_EQ(Encoder(0, 1)->sample_aspect_ratio.num, 1);
    EXPECT_EQ(Encoder(0, 1)->sample_aspect_ratio.den, 1);

    // A copied stream only gets the sample aspect ratio, and is marked as copied.
    session.FrameAspectRatio = 16.0f / 9.0f;
    session.FrameWidth = 720;
    session.FrameHeight = 576;
    session.ApplyOptionText("vcodec=copy\nan");
    ASSERT_TRUE(session.OpenOutputFile(dir.File("copy.mp4")));
    EXPECT_TRUE(session.OutputStreamCopy[2][0]);
    EXPECT_EQ(Output(2)->streams[0]->sample_aspect_ratio.num, 64);
    EXPECT_EQ(Output(2)->streams[0]->sample_aspect_ratio.den, 45);
    EXPECT_EQ(session.VideoStreamCopy, 0);
}

TEST_F(OutputCreationTest, RateControlOverridesAreReadAndBadListsRefused) {
    session.FrameWidth = 320;
    session.FrameHeight = 240;
    session.ApplyOptionText("vcodec=mpeg4\nan\nrc_override=0,100,2/101,200,-50");
    ASSERT_TRUE(session.OpenOutputFile(dir.File("rc.mp4"))) << session.SetupError;
    AVCodecContext* enc = Encoder(0);
    ASSERT_EQ(enc->rc_override_count, 2);
    EXPECT_EQ(enc->rc_override[0].start_frame, 0);
    EXPECT_EQ(enc->rc_override[0].end_frame, 100);
    EXPECT_EQ(enc->rc_override[0].qscale, 2);
    EXPECT_FLOAT_EQ(enc->rc_override[0].quality_factor, 1.0f);
    EXPECT_EQ(enc->rc_override[1].start_frame, 101);
    EXPECT_EQ(enc->rc_override[1].end_frame, 200);
    EXPECT_EQ(enc->rc_override[1].qscale, 0);
    EXPECT_FLOAT_EQ(enc->rc_override[1].quality_factor, 0.5f);

    for (const char* bad : {"", "0,100", "a,1,2", "0,b,2", "0,100,2/5"}) {
        session.ApplyOptionText(std::string("vcodec=mpeg4\nan\nrc_override=") + bad);
        EXPECT_FALSE(session.OpenOutputFile(dir.File("bad.mp4"))) << bad;
        EXPECT_EQ(session.SetupError, "new_video_stream fail: error parsing rc_override") << bad;
        EXPECT_TRUE(session.VideoCodecName.empty());
        EXPECT_EQ(session.OutputFileCount, 1);
        EXPECT_FALSE(std::filesystem::exists(dir.File("bad.mp4")));
        EXPECT_TRUE(session.OutputEncoders[1].empty());
    }
}

TEST_F(OutputCreationTest, QuantisersPassesAndFlagsReachTheEncoder) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4")));
    session.ApplyOptionText("vcodec=mpeg4\nacodec=mp2");
    ASSERT_TRUE(session.OpenOutputFile(dir.File("plain.avi")));
    EXPECT_FALSE(Encoder(0)->flags & AV_CODEC_FLAG_QSCALE);
    EXPECT_FALSE(Encoder(1)->flags & AV_CODEC_FLAG_QSCALE);        // audio stays in bit-rate mode
    EXPECT_FALSE(Encoder(0)->flags & AV_CODEC_FLAG_GLOBAL_HEADER); // AVI has none
    EXPECT_EQ(Encoder(0)->intra_dc_precision, 0);
    // AAC decodes to float planes; MP2 takes the first format it lists.
    EXPECT_EQ(Encoder(1)->sample_fmt, AV_SAMPLE_FMT_S16);

    std::string matrix = "8";
    for (int i = 1; i < 64; ++i)
        matrix += "," + std::to_string(8 + i % 7);
    session.ApplyOptionText("vcodec=mpeg4\nacodec=mp2\naq=5\nqscale=3\nintra\npsnr\npass=1\ndc=10\n"
                            "vtag=XVID\nvglobal=3\npix_fmt=rgb24\nintra_matrix=" +
                            matrix);
    ASSERT_TRUE(session.OpenOutputFile(dir.File("tuned.avi"))) << session.SetupError;
    AVCodecContext* video = Encoder(0, 1);
    AVCodecContext* audio = Encoder(1, 1);
    EXPECT_TRUE(audio->flags & AV_CODEC_FLAG_QSCALE);
    EXPECT_EQ(audio->global_quality, 590);
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_QSCALE);
    EXPECT_EQ(video->global_quality, 354);
    EXPECT_EQ(video->gop_size, 0);
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_PSNR);
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_PASS1);
    EXPECT_FALSE(video->flags & AV_CODEC_FLAG_PASS2);
    EXPECT_EQ(video->intra_dc_precision, 2);
    EXPECT_EQ(video->codec_tag, MKTAG('X', 'V', 'I', 'D'));
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_GLOBAL_HEADER);
    EXPECT_TRUE(video->flags2 & AV_CODEC_FLAG2_LOCAL_HEADER);
    // RGB is not an MPEG-4 format: the encoder's first one is taken.
    EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P);
    ASSERT_NE(video->intra_matrix, nullptr);
    EXPECT_EQ(video->intra_matrix[0], 8);
    EXPECT_EQ(video->intra_matrix[63], 8 + 63 % 7);

    session.ApplyOptionText("vcodec=mpeg4\nacodec=mp2\npass=2");
    ASSERT_TRUE(session.OpenOutputFile(dir.File("second.avi")));
    EXPECT_TRUE(Encoder(0, 2)->flags & AV_CODEC_FLAG_PASS2);
}

TEST_F(OutputCreationTest, UnknownEncodersAndFormatsAreRefused) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4")));
    session.ApplyOptionText("acodec=xyz\nalang=fre");
    EXPECT_FALSE(session.OpenOutputFile(dir.File("a.mp4")));
    EXPECT_EQ(session.SetupError, "new_audio_stream fail: Unknown encoder 'xyz'");
    EXPECT_TRUE(session.AudioCodecName.empty());
    EXPECT_TRUE(session.AudioLanguage.empty());

    session.ApplyOptionText("vcodec=mp2");
    EXPECT_FALSE(session.OpenOutputFile(dir.File("b.mp4")));
    EXPECT_EQ(session.SetupError, "new_video_stream fail: Invalid encoder type 'mp2'");

    EXPECT_FALSE(session.OpenOutputFile(dir.File("c.unknownextension")));
    EXPECT_EQ(session.SetupError, "Unable to find a suitable output format for '" +
                                      dir.File("c.unknownextension") + "'");
    // The "ffm" feed does not exist any more: the ordinary refusal.
    EXPECT_FALSE(session.OpenOutputFile("http://localhost/feed.ffm"));
    EXPECT_EQ(session.SetupError,
              "Unable to find a suitable output format for 'http://localhost/feed.ffm'");

    EXPECT_EQ(session.OutputFileCount, 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(OutputCreationTest, MissingOrUnwritableFolderGivesCouldNotOpenAndNoFile) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("tone.mp3")));
    const std::string missing = dir.File("no/such/folder/out.mp3");
    EXPECT_FALSE(session.OpenOutputFile(missing));
    EXPECT_EQ(session.SetupError, "Could not open '" + missing + "'");
    EXPECT_EQ(session.OutputFileCount, 0);
    EXPECT_EQ(session.OutputFiles[0], nullptr);
    EXPECT_TRUE(session.OutputEncoders[0].empty());

    // A folder given where the file should be.
    EXPECT_FALSE(session.OpenOutputFile(dir.Path().string() + "/"));
    EXPECT_EQ(session.OutputFileCount, 0);

    const std::string longName = dir.File(std::string(5000, 'n') + ".mp3");
    EXPECT_FALSE(session.OpenOutputFile(longName));
    EXPECT_EQ(session.SetupError, "Could not open '" + longName + "'");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

    // Afterwards the session still creates outputs normally.
    EXPECT_TRUE(session.OpenOutputFile(dir.File("ok.mp3"))) << session.SetupError;
    EXPECT_EQ(session.OutputFileCount, 1);
}

TEST_F(OutputCreationTest, UnwritableFolderIsRefusedEvenForAnAdministrator) {
    std::filesystem::path locked = dir.Path() / "locked";
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::owner_all |
                                                 std::filesystem::perms::others_exec |
                                                 std::filesystem::perms::group_exec);
    std::filesystem::permissions(
        locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                    std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
    const std::string target = (locked / "out.mp3").string();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In a child that has given up any administrator rights, as an ordinary user would run it.
    EXPECT_EXIT(
        {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(3);
            TCustomFFmpeg child;
            child.InitSession();
            child.Verbose = -1;
            if (!child.OpenInputFile(Fixture("tone.mp3")))
                _exit(4);
            bool opened = child.OpenOutputFile(target);
            fprintf(stderr, "[%s] count=%d\n", child.SetupError.c_str(), child.OutputFileCount);
            _exit(opened ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "\\[Could not open '.*locked/out.mp3'\\] count=0");
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(OutputCreationTest, MetaDataAndLanguagesGoToTheContainer) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4")));
    session.ApplyOptionText("title=Clip\nauthor=Someone\ncomment=Made here\nalbum=Tests\n"
                            "copyright=None\ngenre=" +
                            std::string(40, 'g') + "\nalang=english");
    session.MetaYear = 2008;
    session.MetaTrack = 0; // not set: skipped
    session.RecTimestamp = 1200000000;
    ASSERT_TRUE(session.OpenOutputFile(dir.File("meta.mp4"))) << session.SetupError;
    AVDictionary* meta = Output()->metadata;
    auto value = [](AVDictionary* dict, const char* key) -> std::string {
        const AVDictionaryEntry* entry = av::av_dict_get(dict, key, nullptr, 0);
        return entry ? entry->value : "(none)";
    };
    EXPECT_EQ(value(meta, "title"), "Clip");
    EXPECT_EQ(value(meta, "artist"), "Someone");
    EXPECT_EQ(value(meta, "comment"), "Made here");
    EXPECT_EQ(value(meta, "album"), "Tests");
    EXPECT_EQ(value(meta, "copyright"), "None");
    EXPECT_EQ(value(meta, "genre"), std::string(31, 'g'));
    EXPECT_EQ(value(meta, "date"), "2008");
    EXPECT_EQ(value(meta, "track"), "(none)");
    EXPECT_EQ(value(meta, "creation_time"), "2008-01-10T21:20:00.000000Z");
    EXPECT_EQ(value(Output()->streams[1]->metadata, "language"), "eng");
    EXPECT_TRUE(session.AudioLanguage.empty());
}

TEST_F(OutputCreationTest, NewStreamOptionsAddToTheLatestOutput) {
    try {
        session.SetOption("newaudio", "");
        FAIL() << "no output yet";
    } catch (const FFMpegException& e) {
        EXPECT_STREQ(e.what(), "At least one output file must be specified");
    }
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4")));
    session.ApplyOptionText("vcodec=mpeg4\nacodec=mp2");
    ASSERT_TRUE(session.OpenOutputFile(dir.File("first.mkv")));
    ASSERT_TRUE(session.OpenOutputFile(dir.File("second.mkv")));
    const unsigned before = Output(1)->nb_streams;
    session.ApplyOptionText("acodec=ac3\nalang=ger\nabsf=null\nnewaudio");
    ASSERT_EQ(Output(1)->nb_streams, before + 1);
    EXPECT_EQ(Output(0)->nb_streams, before);
    AVCodecContext* added = Encoder(before, 1);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->codec_id, AV_CODEC_ID_AC3);
    EXPECT_EQ(session.BitstreamFilters[1][before], "null");
    EXPECT_TRUE(session.AudioBitstreamFilters.empty());
    const AVDictionaryEntry* language =
        av::av_dict_get(Output(1)->streams[before]->metadata, "language", nullptr, 0);
    ASSERT_NE(language, nullptr);
    EXPECT_STREQ(language->value, "ger");

    session.ApplyOptionText("vcodec=mpeg2video\nnewvideo");
    EXPECT_EQ(Output(1)->nb_streams, before + 2);
    EXPECT_EQ(Encoder(before + 1, 1)->codec_id, AV_CODEC_ID_MPEG2VIDEO);

    // A failing creator raises its message to the option walk.
    try {
        session.ApplyOptionText("vcodec=none_such\nnewvideo");
        FAIL() << "unknown encoder accepted";
    } catch (const FFMpegException& e) {
        EXPECT_STREQ(e.what(), "Unknown encoder 'none_such'");
    }
    EXPECT_TRUE(session.VideoCodecName.empty());
}

TEST_F(OutputCreationTest, AnOutputHoldsAtMostTwentyStreams) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("tone.mp3")));
    session.ApplyOptionText("acodec=mp2");
    ASSERT_TRUE(session.OpenOutputFile(dir.File("many.mkv")));
    for (int i = 1; i < MAX_STREAMS; ++i)
        session.AddNewAudioStream();
    EXPECT_EQ(Output()->nb_streams, static_cast<unsigned>(MAX_STREAMS));
    session.AudioLanguage = "eng";
    EXPECT_THROW(session.AddNewAudioStream(), FFMpegException);
    EXPECT_EQ(Output()->nb_streams, static_cast<unsigned>(MAX_STREAMS));
    EXPECT_TRUE(session.AudioLanguage.empty());
}

TEST_F(OutputCreationTest, ExistingOutputIsOverwrittenAndTheWrittenFileReadsBack) {
    const std::string name = dir.File("wide.mp4");
    {
        std::ofstream old(name);
        old << std::string(100000, 'x');
    }
    ASSERT_TRUE(session.OpenInputFile(Fixture("h264_aac.mp4")));
    session.ApplyOptionText("vcodec=mpeg4\nacodec=aac\ns=720x576\naspect=16:9\nalang=english\n"
                            "title=Wide clip");
    ASSERT_TRUE(session.OpenOutputFile(name)) << session.SetupError;
    EXPECT_EQ(std::filesystem::file_size(name), 0u); // truncated when opened
    ASSERT_EQ(WriteGeneratedOutput(session), "");
    session.FreeSession(); // closes the file
    ASSERT_TRUE(std::filesystem::exists(name));

    TAVProbe probe;
    ASSERT_TRUE(probe.Open(name)) << probe.LastError();
    EXPECT_EQ(probe.VideoStreamCount(), 1);
    EXPECT_EQ(probe.AudioStreamCount(), 1);
    auto video = probe.VideoInfo();
    EXPECT_EQ(video.Width, 720);
    EXPECT_EQ(video.Height, 576);
    EXPECT_STREQ(video.CodecName, "mpeg4");
    EXPECT_NEAR(video.DisplayAspect, 16.0 / 9.0, 1e-3);
    EXPECT_EQ(video.FrameRateNum, 25);
    auto audio = probe.AudioInfo();
    EXPECT_STREQ(audio.CodecName, "aac");
    EXPECT_EQ(audio.Channels, 2);
    EXPECT_EQ(audio.SampleRate, 44100);
    EXPECT_STREQ(audio.Language, "eng");
    probe.Close();

    // Readers that share no code with the engine's muxers.
    std::string discovered = RunCommand("gst-discoverer-1.0 '" + name + "' 2>&1");
    EXPECT_NE(discovered.find("Width: 720"), std::string::npos) << discovered;
    EXPECT_NE(discovered.find("Height: 576"), std::string::npos) << discovered;
    EXPECT_NE(discovered.find("Pixel aspect ratio: 64/45"), std::string::npos) << discovered;
    EXPECT_NE(discovered.find("Channels: 2"), std::string::npos) << discovered;
    std::string info =
        RunCommand("mediainfo '--Inform=General;%Title%|' '" + name +
                   "'; mediainfo '--Inform=Audio;%Language/String3%|' '" + name +
                   "'; mediainfo '--Inform=Video;%DisplayAspectRatio/String%' '" + name + "'");
    EXPECT_NE(info.find("Wide clip|"), std::string::npos) << info;
    EXPECT_NE(info.find("eng|"), std::string::npos) << info;
    EXPECT_NE(info.find("16:9"), std::string::npos) << info;
}

TEST_F(OutputCreationTest, UnwrittenOutputLeavesNoEmptyFileWhenTheSessionIsFreed) {
    ASSERT_TRUE(session.OpenInputFile(Fixture("tone.mp3")));
    ASSERT_TRUE(session.OpenOutputFile(dir.File("never.mp3")));
    EXPECT_TRUE(std::filesystem::exists(dir.File("never.mp3")));
    session.FreeSession();
    EXPECT_FALSE(std::filesystem::exists(dir.File("never.mp3")));
}

} // namespace
