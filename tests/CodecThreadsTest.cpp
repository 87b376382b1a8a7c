// Codec threads: the count each decoder and encoder is opened with (asked for by "threads", or
// chosen from the cores and the conversions running at once), and real conversions with several
// threads that must give the same streams as with one. libx264 records the thread count it used
// in the options it writes into the stream, which tells what reached the encoder.

#include "engine/session/CodecThreads.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "converter/AVConverter.h"
#include "converter/FFmpegTask.h"
#include "engine/session/EncoderLookahead.h"
#include "engine/transcode/EncoderPipe.h"
#include "support/ConverterEvents.h"
#include "support/EngineRun.h"
#include "support/LibrariesTest.h"
#include "support/MediaReader.h"
#include "support/TempDir.h"

#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <thread>

extern "C" {
#include <libswscale/swscale.h>
}

using namespace mobivert::engine;
using namespace mobivert::test;

namespace {

// The whole content of a file, empty when it cannot be read.
std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The value of "NAME=N" in the options libx264 wrote into the stream, -1 when there is none.
int X264Setting(const std::string& path, const std::string& name) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::smatch match;
    if (!std::regex_search(bytes, match, std::regex(" " + name + "=([0-9]+) ")))
        return -1;
    return std::stoi(match[1]);
}

int X264Threads(const std::string& path) {
    return X264Setting(path, "threads");
}

class CodecThreadsTest : public mobivert::test::LibrariesTest {
protected:
    // Converts the 2 s 640x480 H.264 + AAC fixture with the thread option given to the input
    // (decoders) and to the output (encoders).
    MediaSummary Convert(const std::string& threads, const std::string& codecOptions,
                         const std::string& output) {
        EngineRun run;
        EXPECT_TRUE(run.AddInput(Fixture("h264_aac.mp4"), threads)) << run.Error();
        EXPECT_TRUE(run.SetOutput(output, codecOptions + "\n" + threads)) << run.Error();
        run.Run();
        EXPECT_FALSE(run.Failed()) << threads << ": " << run.Error();
        return ReadMedia(output);
    }

    // Output of several threads against the output of one: same codecs, size, picture count,
    // audio and duration.
    void ExpectSameStreams(const MediaSummary& many, const MediaSummary& one,
                           const std::string& what) {
        ASSERT_TRUE(many.Opened) << what;
        const StreamSummary* video = many.First(AVMEDIA_TYPE_VIDEO);
        const StreamSummary* audio = many.First(AVMEDIA_TYPE_AUDIO);
        const StreamSummary* video1 = one.First(AVMEDIA_TYPE_VIDEO);
        const StreamSummary* audio1 = one.First(AVMEDIA_TYPE_AUDIO);
        ASSERT_TRUE(video && audio && video1 && audio1) << what;
        EXPECT_EQ(video->Codec, video1->Codec) << what;
        EXPECT_EQ(video->Width, 640) << what;
        EXPECT_EQ(video->Height, 480) << what;
        EXPECT_EQ(video->Packets, video1->Packets) << what;
        EXPECT_EQ(video->Packets, 50) << what;
        EXPECT_NEAR(video->Duration(), video1->Duration(), 0.001) << what;
        EXPECT_EQ(audio->Codec, audio1->Codec) << what;
        EXPECT_EQ(audio->Packets, audio1->Packets) << what;
        EXPECT_EQ(audio->SampleRate, 44100) << what;
    }

    TempDir dir;
};

TEST_F(CodecThreadsTest, CountFollowsTheRequestTheCoresAndTheCodecsAbilities) {
    const int cores = UsableCores();
    const AVCodec* aac = av::avcodec_find_encoder_by_name("aac"); // no threads of its own
    const AVCodec* x264 = av::avcodec_find_encoder_by_name("libx264");
    ASSERT_TRUE(cores >= 1 && aac && x264);
    EXPECT_EQ(CodecThreadCount(aac, 0, 1), 1);
    EXPECT_EQ(CodecThreadCount(aac, 8, 1), 1);
    EXPECT_EQ(CodecThreadCount(nullptr, 8, 1), 1);
    EXPECT_EQ(CodecThreadCount(x264, 3, 4), 3); // an asked-for count is not shared
    EXPECT_EQ(CodecThreadCount(x264, 100000, 1), MaxCodecThreads);
    EXPECT_EQ(CodecThreadCount(x264, 0, 0), AutomaticThreadCount(x264, cores));
    EXPECT_EQ(CodecThreadCount(x264, 0, 2), AutomaticThreadCount(x264, std::max(1, cores / 2)));
    EXPECT_EQ(CodecThreadCount(x264, 0, 2 * cores + 1), 1);

    // Automatic counts by the cores a conversion has: none beyond one on a single core; two
    // pictures ahead for encoders that work ahead; slice encoders take half.
    const AVCodec* mpeg4 = av::avcodec_find_encoder_by_name("mpeg4"); // slices only
    const AVCodec* h264 = av::avcodec_find_decoder_by_name("h264");   // frame threads
    ASSERT_TRUE(mpeg4 && h264);
    for (const AVCodec* codec : {x264, mpeg4, h264})
        EXPECT_EQ(AutomaticThreadCount(codec, 1), 1) << codec->name;
    EXPECT_EQ(AutomaticThreadCount(x264, 2), 4);
    EXPECT_EQ(AutomaticThreadCount(x264, 8), 10);
    EXPECT_EQ(AutomaticThreadCount(h264, 2), 2);
    EXPECT_EQ(AutomaticThreadCount(h264, 8), 8);
    EXPECT_EQ(AutomaticThreadCount(mpeg4, 2), 1);
    EXPECT_EQ(AutomaticThreadCount(mpeg4, 3), 1);
    EXPECT_EQ(AutomaticThreadCount(mpeg4, 8), 4);

    // Only a video encoder that would code on the conversion's thread gets a thread of its own,
    // and only with automatic threads and more than one core for the conversion.
    EXPECT_EQ(EncodesOnItsOwnThread(mpeg4, 0, 1), cores > 1);
    EXPECT_FALSE(EncodesOnItsOwnThread(mpeg4, 2, 1));
    EXPECT_FALSE(EncodesOnItsOwnThread(mpeg4, 0, cores));
    EXPECT_FALSE(EncodesOnItsOwnThread(x264, 0, 1));
    EXPECT_FALSE(EncodesOnItsOwnThread(h264, 0, 1));
    EXPECT_FALSE(EncodesOnItsOwnThread(aac, 0, 1));

    // Beside an encoder's own thread a frame-threaded decoder of pictures up to 1280 x 720 gets
    // four frame threads a core; larger pictures, an asked-for count, a slice-threaded decoder
    // and a conversion on one core keep theirs.
    const AVCodec* mpeg2 = av::avcodec_find_decoder_by_name("mpeg2video"); // slices only
    ASSERT_TRUE(mpeg2);
    const int64_t hd = 1280 * 720;
    EXPECT_EQ(DecoderThreadCountBesideEncoderThread(h264, 0, 1, hd),
              cores > 1 ? std::min(4 * cores, MaxCodecThreads) : 1);
    EXPECT_EQ(DecoderThreadCountBesideEncoderThread(h264, 0, 1, hd + 1),
              CodecThreadCount(h264, 0, 1));
    EXPECT_EQ(DecoderThreadCountBesideEncoderThread(h264, 3, 1, hd), 3);
    EXPECT_EQ(DecoderThreadCountBesideEncoderThread(h264, 0, 2 * cores + 1, hd), 1);
    EXPECT_EQ(DecoderThreadCountBesideEncoderThread(mpeg2, 0, 1, hd),
              CodecThreadCount(mpeg2, 0, 1));
}

TEST_F(CodecThreadsTest, SeveralThreadsGiveTheSameStreamsAsOne) {
    const std::string x264 = "vcodec=libx264\nb=400k\nacodec=aac\nab=64k";
    MediaSummary one = Convert("threads=1", x264, dir.File("x1.mp4"));
    EXPECT_EQ(X264Threads(dir.File("x1.mp4")), 1);
    MediaSummary two = Convert("threads=2", x264, dir.File("x2.mp4"));
    EXPECT_EQ(X264Threads(dir.File("x2.mp4")), 2);
    ExpectSameStreams(two, one, "libx264, threads=2");
    MediaSummary automatic = Convert("threads=0", x264, dir.File("x0.mp4"));
    const AVCodec* x264Codec = av::avcodec_find_encoder_by_name("libx264");
    EXPECT_EQ(X264Threads(dir.File("x0.mp4")), AutomaticThreadCount(x264Codec, UsableCores()));
    ExpectSameStreams(automatic, one, "libx264, threads=0");
    // No option at all is the automatic count.
    MediaSummary plain = Convert("", x264, dir.File("xd.mp4"));
    EXPECT_EQ(X264Threads(dir.File("xd.mp4")), AutomaticThreadCount(x264Codec, UsableCores()));
    ExpectSameStreams(plain, one, "libx264, no option");

    // The mpeg4 encoder splits its pictures into slices, one per thread.
    const std::string mpeg4 = "vcodec=mpeg4\nb=800k\nacodec=libmp3lame\nab=64k";
    MediaSummary mpeg4One = Convert("threads=1", mpeg4, dir.File("m1.avi"));
    MediaSummary mpeg4Two = Convert("threads=2", mpeg4, dir.File("m2.avi"));
    ExpectSameStreams(mpeg4Two, mpeg4One, "mpeg4, threads=2");
    // Automatic: with more than one core the encoder codes on a thread of its own.
    MediaSummary mpeg4Auto = Convert("", mpeg4, dir.File("m0.avi"));
    ExpectSameStreams(mpeg4Auto, mpeg4One, "mpeg4, automatic");
    // Beside it the decoder's frame threads change no picture: without sound (whose packets
    // interleave as they come), the same bytes as one thread.
    Convert("threads=1", "vcodec=mpeg4\nb=800k\nan", dir.File("v1.avi"));
    Convert("", "vcodec=mpeg4\nb=800k\nan", dir.File("v0.avi"));
    const std::string oneThread = ReadBytes(dir.File("v1.avi"));
    EXPECT_FALSE(oneThread.empty());
    EXPECT_TRUE(ReadBytes(dir.File("v0.avi")) == oneThread) << "other bytes";

    // GStreamer reads the threaded outputs as what they claim to be.
    EXPECT_NE(Discover(dir.File("x2.mp4")).find("H.264"), std::string::npos);
    EXPECT_NE(Discover(dir.File("m2.avi")).find("MPEG-4 Video"), std::string::npos);
}

// The encoder's own thread with one decoder thread, so that every thread of the run is one the
// thread checker sees (the libraries' frame threads synchronise where it cannot look): a whole
// run writes every picture, a stop in the middle ends the run with what was coded so far.
TEST_F(CodecThreadsTest, EncoderOnItsOwnThreadCodesEveryPictureAndStopsCleanly) {
    const AVCodec* mpeg4 = av::avcodec_find_encoder_by_name("mpeg4");
    if (!EncodesOnItsOwnThread(mpeg4, 0, 1))
        GTEST_SKIP() << "a single core: the encoder codes on the conversion's thread";
    // The input's "threads=1" would hold for the encoder too: it asks for the automatic count.
    const std::string options = "vcodec=mpeg4\nb=800k\nan\nthreads=0";
    EngineRun whole;
    ASSERT_TRUE(whole.AddInput(Fixture("sample.mp4"), "threads=1")) << whole.Error();
    ASSERT_TRUE(whole.SetOutput(dir.File("whole.avi"), options)) << whole.Error();
    whole.Run();
    ASSERT_FALSE(whole.Failed()) << whole.Error();
    const MediaSummary wholeMedia = ReadMedia(dir.File("whole.avi"));
    const StreamSummary* video = wholeMedia.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->Packets, 75); // 3 s at 25 pictures a second

    EngineRun stopped;
    ASSERT_TRUE(stopped.AddInput(Fixture("sample.mp4"), "threads=1")) << stopped.Error();
    ASSERT_TRUE(stopped.SetOutput(dir.File("stopped.avi"), options)) << stopped.Error();
    stopped.Session.ProgressInterval = 0;
    stopped.Session.OnProgress = [](TCustomFFmpeg& session, int32_t frame, int32_t, int32_t, float,
                                    float, int64_t, int32_t) {
        if (frame >= 20)
            session.StopConvert();
    };
    stopped.Run();
    EXPECT_FALSE(stopped.Failed()) << stopped.Error();
    const MediaSummary stoppedMedia = ReadMedia(dir.File("stopped.avi"));
    const StreamSummary* part = stoppedMedia.First(AVMEDIA_TYPE_VIDEO);
    ASSERT_NE(part, nullptr);
    EXPECT_GE(part->Packets, 20);
    EXPECT_LT(part->Packets, 75);
}

// Pictures that need only rescaling are rescaled on the encoder's own thread: the output is
// the same, byte for byte, as with the encoder and the scaler on the conversion's thread
// ("threads=1" for the encoder), for a smaller size and for a change of pixel format only; a
// run paused and resumed in the middle gives the same bytes, a stop in the middle ends the run
// with a readable part. h263 has no threads of its own, so both runs code with one.
TEST_F(CodecThreadsTest, EncoderOnItsOwnThreadRescalesAsTheConversionsThreadWould) {
    const AVCodec* h263 = av::avcodec_find_encoder_by_name("h263");
    if (!EncodesOnItsOwnThread(h263, 0, 1))
        GTEST_SKIP() << "a single core: the encoder codes on the conversion's thread";
    struct Case {
        const char* Source;
        const char* Size;
        int Pictures;
    };
    for (const Case& c : {Case{"sample.mp4", "176x144", 75}, Case{"h264_444.mkv", "", 0}}) {
        const std::string options = std::string("vcodec=h263\nb=300k\nan\npix_fmt=yuv420p") +
                                    (*c.Size ? std::string("\ns=") + c.Size : "");
        auto convert = [&](const std::string& name, const std::string& encoderThreads,
                           const std::function<void(EngineRun&)>& prepare = {}) {
            EngineRun run;
            EXPECT_TRUE(run.AddInput(Fixture(c.Source), "threads=1")) << run.Error();
            EXPECT_TRUE(run.SetOutput(dir.File(name), options + "\n" + encoderThreads))
                << run.Error();
            if (prepare)
                prepare(run);
            run.Run();
            EXPECT_FALSE(run.Failed()) << c.Source << " " << name << ": " << run.Error();
            return ReadBytes(dir.File(name));
        };
        const std::string one = convert("one.avi", "threads=1");
        ASSERT_FALSE(one.empty()) << c.Source;
        // The input's "threads=1" holds for the output too unless the output asks again.
        EXPECT_TRUE(convert("piped.avi", "threads=0") == one) << c.Source << ": other bytes";

        std::thread resumer;
        const std::string paused = convert("paused.avi", "threads=0", [&](EngineRun& run) {
            run.Session.ProgressInterval = 0;
            run.Session.OnProgress = [&](TCustomFFmpeg& session, int32_t frame, int32_t, int32_t,
                                         float, float, int64_t, int32_t) {
                if (frame < 10 || resumer.joinable())
                    return;
                session.PauseConvert();
                resumer = std::thread([&session] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    session.ResumeConvert();
                });
            };
        });
        ASSERT_TRUE(resumer.joinable()) << c.Source << ": never paused";
        resumer.join();
        EXPECT_TRUE(paused == one) << c.Source << ": other bytes";

        if (!c.Pictures)
            continue;
        convert("stopped.avi", "threads=0", [](EngineRun& run) {
            run.Session.ProgressInterval = 0;
            run.Session.OnProgress = [](TCustomFFmpeg& session, int32_t frame, int32_t, int32_t,
                                        float, float, int64_t, int32_t) {
                if (frame >= 20)
                    session.StopConvert();
            };
        });
        const MediaSummary part = ReadMedia(dir.File("stopped.avi"));
        const StreamSummary* video = part.First(AVMEDIA_TYPE_VIDEO);
        ASSERT_NE(video, nullptr) << c.Source;
        EXPECT_EQ(video->Width, 176);
        EXPECT_GE(video->Packets, 20);
        EXPECT_LT(video->Packets, c.Pictures);
    }
}

// A picture the encoder's thread cannot rescale ends the coding with the scaler's message,
// which the conversion's thread raises; pictures sent after it are dropped, not coded.
TEST_F(CodecThreadsTest, EncoderOnItsOwnThreadReportsARescaleItCannotDo) {
    const AVCodec* mpeg4 = av::avcodec_find_encoder_by_name("mpeg4");
    ASSERT_NE(mpeg4, nullptr);
    AVCodecContext* encoder = av::avcodec_alloc_context3(mpeg4);
    ASSERT_NE(encoder, nullptr);
    encoder->width = 64;
    encoder->height = 64;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = {1, 25};
    ASSERT_GE(av::avcodec_open2(encoder, mpeg4, nullptr), 0);
    auto picture = [](AVPixelFormat format) {
        AVFrame* frame = av::av_frame_alloc();
        frame->format = format;
        frame->width = 64;
        frame->height = 64;
        EXPECT_GE(av::av_frame_get_buffer(frame, 0), 0);
        EXPECT_GE(av::av_frame_make_writable(frame), 0);
        for (int plane = 0; plane < 4 && frame->buf[plane]; ++plane)
            std::fill_n(frame->buf[plane]->data, frame->buf[plane]->size, uint8_t{128});
        return frame;
    };
    {
        EncoderPipe pipe(encoder, 2, std::make_unique<PictureRescaler>(SWS_BICUBIC));
        AVFrame* fits = picture(AV_PIX_FMT_YUV420P);
        AVFrame* other = picture(AV_PIX_FMT_YUV444P); // rescaled into the encoder's format
        // The scaler takes no pictures in this packed 4:1:1 layout.
        AVFrame* refused = picture(AV_PIX_FMT_UYYVYY411);
        for (AVFrame* frame : {fits, other, refused, fits}) {
            frame->pts = frame == refused ? 2 : frame == other ? 1 : 0;
            EXPECT_TRUE(pipe.Send(frame));
        }
        pipe.Drain();
        EXPECT_EQ(pipe.Failure(), "Cannot get resampling context");
        std::vector<EncoderPipe::Coded> coded = pipe.Take();
        EXPECT_EQ(coded.size(), 2u) << "the first two pictures, and none after the failure";
        for (EncoderPipe::Coded& packet : coded)
            av::av_packet_free(&packet.Packet);
        for (AVFrame* frame : {fits, other, refused})
            av::av_frame_free(&frame);
    }
    av::avcodec_free_context(&encoder);
}

// The component tells each task how many conversions run at once, so that automatic threads
// share the cores: two at once get half the cores each, a batch of one gets them all.
TEST_F(CodecThreadsTest, ConcurrentConversionsShareTheCores) {
    using namespace mobivert::converter;
    TAVConverter converter;
    ASSERT_TRUE(converter.LoadAVLib("", true)) << converter.LastError();
    ConverterEvents events;
    events.Attach(converter, {.Logs = false, .Progress = false});
    auto runBatch = [&](int tasks, int atOnce) {
        converter.ClearTasks();
        events.Clear();
        std::vector<std::string> outputs;
        for (int i = 0; i < tasks; ++i) {
            int index = converter.AddInputFile(Fixture("h264_aac.mp4"));
            EXPECT_GE(index, 0) << converter.LastError();
            TOutputOptions output;
            output.ExtOptions = "vcodec=libx264\nb=300k\nacodec=aac\nt=1";
            outputs.push_back(dir.File("batch" + std::to_string(atOnce) + "_" +
                                       std::to_string(tasks) + "_" + std::to_string(i) + ".mp4"));
            EXPECT_TRUE(converter.SetOutputFile(index, outputs.back(), &output))
                << converter.LastError();
        }
        converter.StartConvert(atOnce);
        EXPECT_TRUE(events.WaitBatchEnd(std::chrono::seconds(60)));
        return outputs;
    };

    const AVCodec* x264 = av::avcodec_find_encoder_by_name("libx264");
    const int shared = AutomaticThreadCount(x264, std::max(1, UsableCores() / 2));
    for (const std::string& output : runBatch(2, 2))
        EXPECT_EQ(X264Threads(output), shared) << output;
    for (int i = 0; i < converter.TaskCount(); ++i)
        EXPECT_EQ(converter.Tasks(i)->ConcurrentRuns, 2);

    // Two at once allowed, but only one task: it has the cores to itself.
    std::vector<std::string> alone = runBatch(1, 2);
    EXPECT_EQ(converter.Tasks(0)->ConcurrentRuns, 1);
    EXPECT_EQ(X264Threads(alone[0]), AutomaticThreadCount(x264, UsableCores()));
}

} // namespace

namespace {

TEST(EncoderLookaheadTest, LargePicturesGetABoundedLookaheadUnlessTheUserSetsOne) {
    EXPECT_EQ(BoundedLookahead(1920, 1080, PresetLookahead("medium")), 40);
    EXPECT_EQ(BoundedLookahead(3840, 2160, PresetLookahead("medium")), 16);
    EXPECT_EQ(BoundedLookahead(3840, 2160, PresetLookahead("veryfast")), 10);
    EXPECT_EQ(BoundedLookahead(7680, 4320, PresetLookahead("slow")), MIN_LOOKAHEAD);
    EXPECT_EQ(BoundedLookahead(3840, 2160, PresetLookahead("superfast")), 0);

    ASSERT_TRUE(mobivert::binding::LoadAVLibs("", true));
    TempDir dir;
    auto lookahead = [&](const std::string& size, const std::string& extra) {
        const std::string output = dir.File("lookahead" + size + ".mp4");
        EngineRun run;
        EXPECT_TRUE(run.AddInput(Fixture("h264_aac.mp4"), "")) << run.Error();
        EXPECT_TRUE(run.SetOutput(
            output, "t=0.2\nvcodec=libx264\npreset=medium\ncrf=30\nan=1\ns=" + size + "\n" + extra))
            << run.Error();
        run.Run();
        EXPECT_FALSE(run.Failed()) << size << ": " << run.Error();
        return X264Setting(output, "rc_lookahead");
    };
    // The preset's own at ordinary sizes; bounded at 2560x1440 (11 MB a picture); the user's
    // value always.
    EXPECT_EQ(lookahead("640x480", ""), 40);
    EXPECT_EQ(lookahead("2560x1440", ""), BoundedLookahead(2560, 1440, 40));
    EXPECT_LT(BoundedLookahead(2560, 1440, 40), 40);
    EXPECT_EQ(lookahead("2560x1440", "rc-lookahead=40"), 40);
}

} // namespace
