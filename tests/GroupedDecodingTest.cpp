// Video decoded in whole groups of pictures side by side: where a stream is cut, what its index
// tells of its longest group, pictures that must be those one decoder gives in its order (also
// from damaged files, and with the groups ahead held to a few pictures), and conversions that
// use it and write what one thread writes.

#include "engine/transcode/GroupedDecoding.h"
#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/CodecThreads.h"
#include "engine/video/PictureGroups.h"
#include "support/EngineRun.h"
#include "support/LibrariesTest.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

using namespace mobivert::engine;
using namespace mobivert::test;

namespace {

struct Source {
    AVFormatContext* Format = nullptr;
    AVStream* St = nullptr;
    std::vector<AVPacket*> Packets; // the video stream's, in file order

    explicit Source(const std::string& path) {
        if (av::avformat_open_input(&Format, path.c_str(), nullptr, nullptr) < 0 ||
            av::avformat_find_stream_info(Format, nullptr) < 0)
            return;
        int index = av::av_find_best_stream(Format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (index < 0)
            return;
        St = Format->streams[index];
        AVPacket* packet = av::av_packet_alloc();
        while (av::av_read_frame(Format, packet) >= 0) {
            if (packet->stream_index == index)
                Packets.push_back(av::av_packet_clone(packet));
            av::av_packet_unref(packet);
        }
        av::av_packet_free(&packet);
    }
    ~Source() {
        for (AVPacket*& packet : Packets)
            av::av_packet_free(&packet);
        av::avformat_close_input(&Format);
    }
};

// A decoded picture as the comparison sees it: its times, geometry and a hash of its pixels.
struct Seen {
    int64_t Pts;
    int64_t BestEffort;
    int Width;
    int Height;
    int Format;
    uint64_t Hash;
    bool Concealed; // the decoder hid damage in it
};

uint64_t PixelHash(const AVFrame* picture) {
    const AVPixFmtDescriptor* desc =
        av::av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
    int lineBytes[4] = {};
    av::av_image_fill_linesizes(lineBytes, static_cast<AVPixelFormat>(picture->format),
                                picture->width);
    uint64_t hash = 1469598103934665603ULL;
    for (int plane = 0; plane < 4 && picture->data[plane]; ++plane) {
        const int rows = plane == 0 || plane == 3 ? picture->height
                                                  : -((-picture->height) >> desc->log2_chroma_h);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < lineBytes[plane]; ++x)
                hash = (hash ^ picture->data[plane][y * picture->linesize[plane] + x]) *
                       1099511628211ULL;
    }
    return hash;
}

Seen See(const AVFrame* picture) {
    return {picture->pts,
            picture->best_effort_timestamp,
            picture->width,
            picture->height,
            picture->format,
            PixelHash(picture),
            (picture->decode_error_flags & FF_DECODE_ERROR_CONCEALMENT_ACTIVE) != 0};
}

AVCodecContext* OneThreadDecoder(const AVStream* st) {
    const AVCodec* codec = av::avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext* decoder = av::avcodec_alloc_context3(codec);
    av::avcodec_parameters_to_context(decoder, st->codecpar);
    decoder->thread_count = 1;
    decoder->pkt_timebase = st->time_base;
    EXPECT_GE(av::avcodec_open2(decoder, codec, nullptr), 0);
    return decoder;
}

std::vector<Seen> DecodeAlone(const Source& source, int& errors) {
    AVCodecContext* decoder = OneThreadDecoder(source.St);
    AVFrame* picture = av::av_frame_alloc();
    std::vector<Seen> seen;
    auto take = [&](const AVPacket* packet) {
        if (av::avcodec_send_packet(decoder, packet) < 0)
            ++errors;
        int ret;
        while ((ret = av::avcodec_receive_frame(decoder, picture)) == 0) {
            seen.push_back(See(picture));
            av::av_frame_unref(picture);
        }
        if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
            ++errors;
    };
    for (const AVPacket* packet : source.Packets)
        take(packet);
    take(nullptr);
    av::av_frame_free(&picture);
    av::avcodec_free_context(&decoder);
    return seen;
}

std::unique_ptr<GroupedDecoding> InGroups(const Source& source, int lanes, size_t ahead) {
    std::vector<AVCodecContext*> decoders;
    for (int k = 0; k < lanes; ++k)
        decoders.push_back(OneThreadDecoder(source.St));
    return std::make_unique<GroupedDecoding>(*GroupCuts::Of(source.St->codecpar),
                                             std::move(decoders), ahead);
}

std::vector<Seen> DecodeInGroups(const Source& source, int lanes, size_t ahead, int& errors,
                                 std::vector<int>& widths) {
    auto groups = InGroups(source, lanes, ahead);
    AVFrame* picture = av::av_frame_alloc();
    std::vector<Seen> seen;
    GroupedDecoding::StreamState state;
    auto take = [&](const AVPacket* packet) {
        EXPECT_TRUE(groups->Send(packet));
        int ret;
        while ((ret = groups->Receive(picture, state)) != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
            if (ret < 0) {
                ++errors;
                continue;
            }
            seen.push_back(See(picture));
            widths.push_back(state.Width);
            av::av_frame_unref(picture);
        }
        return ret;
    };
    for (const AVPacket* packet : source.Packets)
        EXPECT_NE(take(packet), AVERROR_EOF);
    EXPECT_EQ(take(nullptr), AVERROR_EOF);
    av::av_frame_free(&picture);
    return seen;
}

// Where the pictures decoded in groups differ from one decoder's, empty when nowhere: each must
// have the same times and geometry, and the same pixels unless the one decoder concealed damage
// in it (a decoder hides a damaged part with what it saw before, and one that started at the
// picture's group saw less). Counts the concealed pictures.
std::string Differences(const std::vector<Seen>& grouped, const std::vector<Seen>& alone,
                        int& concealed) {
    if (grouped.size() != alone.size())
        return std::to_string(grouped.size()) + " pictures against " + std::to_string(alone.size());
    std::string differences;
    for (size_t i = 0; i < alone.size(); ++i) {
        const Seen& a = alone[i];
        const Seen& g = grouped[i];
        concealed += a.Concealed ? 1 : 0;
        const bool same = a.Pts == g.Pts && a.BestEffort == g.BestEffort && a.Width == g.Width &&
                          a.Height == g.Height && a.Format == g.Format &&
                          (a.Hash == g.Hash || a.Concealed);
        if (!same)
            differences += " picture " + std::to_string(i);
    }
    return differences;
}

int GroupsBegun(const Source& source, const GroupCuts& cuts) {
    int begun = 0;
    for (const AVPacket* packet : source.Packets)
        begun += cuts.Begins(packet) ? 1 : 0;
    return begun;
}

// An avcC header with 4-byte lengths, and a key packet of the given units (type, length).
struct MadeStream {
    AVCodecParameters* Par = av::avcodec_parameters_alloc();
    AVPacket* Packet = av::av_packet_alloc();
    MadeStream() {
        Par->codec_type = AVMEDIA_TYPE_VIDEO;
        Par->codec_id = AV_CODEC_ID_H264;
        Par->extradata = static_cast<uint8_t*>(av::av_mallocz(7 + AV_INPUT_BUFFER_PADDING_SIZE));
        Par->extradata_size = 7;
        const uint8_t header[7] = {1, 100, 0, 30, 0xff, 0xe1, 0};
        std::copy(header, header + 7, Par->extradata);
    }
    ~MadeStream() {
        av::avcodec_parameters_free(&Par);
        av::av_packet_free(&Packet);
    }
    const AVPacket* Units(std::vector<std::pair<uint8_t, uint32_t>> units, bool key,
                          int cutShort = 0) {
        std::vector<uint8_t> bytes;
        for (auto [type, length] : units) {
            for (int shift = 24; shift >= 0; shift -= 8)
                bytes.push_back(static_cast<uint8_t>(length >> shift));
            bytes.push_back(type);
            bytes.resize(bytes.size() + length - 1, 0x55);
        }
        av::av_packet_unref(Packet);
        av::av_new_packet(Packet, static_cast<int>(bytes.size()) - cutShort);
        std::copy(bytes.begin(), bytes.end() - cutShort, Packet->data);
        Packet->flags = key ? AV_PKT_FLAG_KEY : 0;
        return Packet;
    }
};

class GroupedDecodingTest : public LibrariesTest {
protected:
    TempDir dir;
};

TEST_F(GroupedDecodingTest, StreamsAreCutOnlyAtRefreshPicturesOfLengthPrefixedH264AndHevc) {
    struct Case {
        const char* File;
        int Groups; // -1: the stream is not cut
    };
    // sample.mp4: 75 pictures in groups of 25 (x264's key-int-max); hevc_10bit.mp4 from x265.
    for (const Case& c :
         {Case{"sample.mp4", 3}, Case{"h264_cluster_time_jump.mkv", 4}, Case{"hevc_10bit.mp4", 1},
          Case{"h264.ts", -1}, Case{"mpeg4_mp3.avi", -1}, Case{"wmv2_wma.asf", -1}}) {
        Source source(Fixture(c.File));
        ASSERT_TRUE(source.St) << c.File;
        std::optional<GroupCuts> cuts = GroupCuts::Of(source.St->codecpar);
        ASSERT_EQ(cuts.has_value(), c.Groups >= 0) << c.File;
        if (cuts) {
            EXPECT_EQ(GroupsBegun(source, *cuts), c.Groups) << c.File;
        }
    }

    MadeStream made;
    std::optional<GroupCuts> cuts = GroupCuts::Of(made.Par);
    ASSERT_TRUE(cuts);
    const uint8_t sei = 6, idr = 0x65, slice = 0x41;
    EXPECT_TRUE(cuts->Begins(made.Units({{sei, 12}, {idr, 40}}, true)));
    EXPECT_FALSE(cuts->Begins(made.Units({{sei, 12}, {idr, 40}}, false))) << "not a key packet";
    EXPECT_FALSE(cuts->Begins(made.Units({{sei, 12}, {slice, 40}}, true))) << "a recovery point";
    EXPECT_FALSE(cuts->Begins(made.Units({{sei, 12}, {idr, 40}}, true, 10)))
        << "its unit runs past the packet's end";
    EXPECT_FALSE(cuts->Begins(made.Units({{sei, 200000}}, true, 199990))) << "a length beyond it";
    made.Par->extradata[0] = 0; // a start code: Annex B
    EXPECT_FALSE(GroupCuts::Of(made.Par));
}

TEST_F(GroupedDecodingTest, TheIndexTellsTheLongestGroupInPictures) {
    struct Case {
        const char* File;
        int64_t Least, Most;
    };
    // x264's groups of at most 25; the last group of h264_aac.mp4's 50 runs to its end. A
    // transport stream and a single picture list no groups.
    for (const Case& c : {Case{"sample.mp4", 25, 25}, Case{"h264_aac.mp4", 25, 25},
                          Case{"h264.ts", 0, 0}, Case{"one_picture.mkv", 0, 0}}) {
        Source source(Fixture(c.File));
        ASSERT_TRUE(source.St) << c.File;
        const int64_t longest = LongestIndexedGroup(source.St);
        EXPECT_GE(longest, c.Least) << c.File;
        EXPECT_LE(longest, c.Most) << c.File;
    }
}

TEST_F(GroupedDecodingTest, GroupsGiveThePicturesOneDecoderGivesInItsOrder) {
    for (const char* file : {"sample.mp4", "hevc_10bit.mp4", "h264_cluster_time_jump.mkv",
                             "h264_bits_flipped.mp4", "cut_short.mp4"}) {
        Source source(Fixture(file));
        ASSERT_TRUE(source.St && GroupCuts::Of(source.St->codecpar)) << file;
        int aloneErrors = 0;
        const std::vector<Seen> alone = DecodeAlone(source, aloneErrors);
        ASSERT_GT(alone.size(), 0u) << file;
        // Two and three decoders; groups ahead held to two pictures, or to a whole group.
        for (auto [lanes, ahead] : {std::pair{2, size_t{2}}, {3, size_t{2}}, {2, size_t{100}}}) {
            int errors = 0;
            std::vector<int> widths;
            const std::vector<Seen> grouped = DecodeInGroups(source, lanes, ahead, errors, widths);
            int concealed = 0;
            EXPECT_EQ(Differences(grouped, alone, concealed), "")
                << file << " with " << lanes << " decoders, " << ahead << " ahead";
            // Only the damaged file has pictures with damage hidden, and few.
            EXPECT_EQ(concealed > 0, std::string(file) == "h264_bits_flipped.mp4") << file;
            EXPECT_LE(concealed, 6) << file;
            EXPECT_EQ(errors, aloneErrors) << file;
            EXPECT_EQ(widths, std::vector<int>(grouped.size(), source.St->codecpar->width)) << file;
        }
    }
}

TEST_F(GroupedDecodingTest, EndsWithPicturesAndPacketsInFlight) {
    Source source(Fixture("sample.mp4"));
    ASSERT_TRUE(source.St);
    AVFrame* picture = av::av_frame_alloc();
    GroupedDecoding::StreamState state;
    for (size_t sent : {size_t{1}, size_t{30}, source.Packets.size()}) {
        auto groups = InGroups(source, 2, 2);
        int taken = 0;
        for (size_t k = 0; k < sent; ++k) {
            ASSERT_TRUE(groups->Send(source.Packets[k]));
            while (groups->Receive(picture, state) == 0) {
                ++taken;
                av::av_frame_unref(picture);
            }
        }
        EXPECT_LE(taken, static_cast<int>(sent));
        // Destroyed here: its decoders stop, holding pictures and packets not yet taken.
    }
    av::av_frame_free(&picture);
}

// A conversion with automatic threads on two cores or more decodes its H.264 video in groups
// and writes the bytes a one-thread conversion writes; with "threads=1" it does not. From a
// damaged file the pictures whose damage the decoder hid may differ, nothing else.
TEST_F(GroupedDecodingTest, ConversionsDecodeInGroupsAndWriteWhatOneThreadWrites) {
    if (CoresOfOneRun(1) < 2)
        GTEST_SKIP() << "a single core: nothing is decoded side by side";
    const std::string output = "vcodec=h263\ns=176x144\nr=15\nb=128k\nacodec=libopencore_amrnb\n"
                               "ar=8000\nac=1\nab=12200";
    auto convert = [&](const std::string& source, const std::string& threads, bool& grouped) {
        EngineRun run;
        run.Session.Verbose = 1;
        const std::string name = dir.File(source + threads + ".3gp");
        EXPECT_TRUE(run.AddInput(Fixture(source), threads)) << run.Error();
        EXPECT_TRUE(run.SetOutput(name, output)) << run.Error();
        run.Run();
        EXPECT_FALSE(run.Failed()) << source << ": " << run.Error();
        grouped = run.Logged("is decoded in groups of pictures by 2 decoders at once");
        std::ifstream file(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    for (const std::string source : {"sample.mp4", "h264_bits_flipped.mp4"}) {
        bool autoGrouped = false, oneGrouped = true;
        const std::string automatic = convert(source, "", autoGrouped);
        const std::string one = convert(source, "threads=1", oneGrouped);
        EXPECT_TRUE(autoGrouped) << source;
        EXPECT_FALSE(oneGrouped) << source;
        EXPECT_GT(one.size(), 10000u) << source;
        if (source == "sample.mp4")
            EXPECT_TRUE(automatic == one) << automatic.size() << " bytes against " << one.size();
        else
            EXPECT_NEAR(static_cast<double>(automatic.size()), static_cast<double>(one.size()),
                        one.size() / 100.0);
    }
}

} // namespace
