// How fast the video of a file decodes, and at what CPU cost, with the decoder's own threads or
// with two one-thread decoders that take whole groups of pictures (a key picture and those up to
// the next) in turn. Nothing is done with the pictures: this measures the decoder alone.
//
// Usage: decode_threads INPUT THREADS|groups
//   THREADS  the decoder's thread count (1 for one thread, 0 the library's own choice)
//   groups   two one-thread decoders on their own threads, groups of pictures in turn
// Prints the pictures decoded and the wall, user and system seconds of the decoding.
//
// Linked against FFmpeg directly: it is a measuring stick, not part of the program.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "decode_threads: %s\n", what.c_str());
    std::exit(1);
}

struct Source {
    AVFormatContext* Format = nullptr;
    int Stream = -1;
};

Source Open(const char* path) {
    Source source;
    if (avformat_open_input(&source.Format, path, nullptr, nullptr) < 0 ||
        avformat_find_stream_info(source.Format, nullptr) < 0)
        Fail(std::string("cannot open ") + path);
    source.Stream = av_find_best_stream(source.Format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (source.Stream < 0)
        Fail("no video stream");
    return source;
}

AVCodecContext* OpenDecoder(const Source& source, int threads) {
    const AVCodecParameters* par = source.Format->streams[source.Stream]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    if (!codec || !decoder || avcodec_parameters_to_context(decoder, par) < 0)
        Fail("no decoder");
    decoder->thread_count = threads;
    if (avcodec_open2(decoder, codec, nullptr) < 0)
        Fail("cannot open the decoder");
    return decoder;
}

// Sends a packet (null: the end) and counts the pictures that come out.
int Decode(AVCodecContext* decoder, const AVPacket* packet, AVFrame* picture) {
    int pictures = 0;
    avcodec_send_packet(decoder, packet);
    while (avcodec_receive_frame(decoder, picture) == 0)
        ++pictures;
    return pictures;
}

// The video packets of the file, in groups that each start at a key packet.
std::vector<std::vector<AVPacket*>> ReadGroups(const Source& source) {
    std::vector<std::vector<AVPacket*>> groups;
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(source.Format, packet) >= 0) {
        if (packet->stream_index == source.Stream) {
            if (groups.empty() || (packet->flags & AV_PKT_FLAG_KEY))
                groups.emplace_back();
            groups.back().push_back(av_packet_clone(packet));
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return groups;
}

int DecodeWithThreads(const Source& source, const std::vector<std::vector<AVPacket*>>& groups,
                      int threads) {
    AVCodecContext* decoder = OpenDecoder(source, threads);
    AVFrame* picture = av_frame_alloc();
    int pictures = 0;
    for (const auto& group : groups)
        for (const AVPacket* packet : group)
            pictures += Decode(decoder, packet, picture);
    pictures += Decode(decoder, nullptr, picture);
    av_frame_free(&picture);
    avcodec_free_context(&decoder);
    return pictures;
}

// Decoder k of two takes groups k, k + 2, ...; each group is decoded to its end on its own.
int DecodeGroupsInTurn(const Source& source, const std::vector<std::vector<AVPacket*>>& groups) {
    std::atomic<int> pictures{0};
    auto lane = [&](size_t first) {
        AVCodecContext* decoder = OpenDecoder(source, 1);
        AVFrame* picture = av_frame_alloc();
        for (size_t g = first; g < groups.size(); g += 2) {
            for (const AVPacket* packet : groups[g])
                pictures += Decode(decoder, packet, picture);
            pictures += Decode(decoder, nullptr, picture);
            avcodec_flush_buffers(decoder);
        }
        av_frame_free(&picture);
        avcodec_free_context(&decoder);
    };
    std::thread second(lane, 1);
    lane(0);
    second.join();
    return pictures;
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        Fail("usage: decode_threads INPUT THREADS|groups");
    Source source = Open(argv[1]);
    const bool inGroups = std::string(argv[2]) == "groups";
    // The packets are read before the clock starts: reading is not the decoders' work.
    std::vector<std::vector<AVPacket*>> groups = ReadGroups(source);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    const int pictures = inGroups ? DecodeGroupsInTurn(source, groups)
                                  : DecodeWithThreads(source, groups, std::atoi(argv[2]));
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    std::printf("%s: %d pictures, wall %.2f s, user %.2f s, system %.2f s\n", argv[2], pictures,
                wall.count(), Seconds(after.ru_utime) - Seconds(before.ru_utime),
                Seconds(after.ru_stime) - Seconds(before.ru_stime));
    for (auto& group : groups)
        for (AVPacket*& packet : group)
            av_packet_free(&packet);
    avformat_close_input(&source.Format);
    return 0;
}
