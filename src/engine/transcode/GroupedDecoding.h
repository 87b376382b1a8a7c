#pragma once
// A video stream decoded by several one-thread decoders at once, each taking whole groups of
// pictures (from one refresh picture to the next, see GroupCuts) in turn. The decoder's own
// frame threads wait on each other's reference pictures and spend more time in all; groups
// have nothing to wait for, so on two cores they decode nearly twice as fast as one thread.
//
// The conversion's thread hands over the stream's packets in file order and takes back the
// pictures in the order one decoder would give them: all of the first group, then the next.
// While it takes the pictures of one group, the other decoders work ahead on the groups after
// it, holding at most a set number of decoded pictures each; the conversion's thread reads no
// farther than one group beyond those.
//
// Each decoder is touched by its own thread alone between the start and the end; what the
// decoder knew of the stream when it gave a picture comes with the picture.

#include "engine/video/PictureGroups.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace mobivert::engine {

class GroupedDecoding {
public:
    // What a decoder had learnt of the stream when it gave a picture (from the stream's
    // parameter sets): the stream's own decoder context takes it over with the picture, as a
    // single decoder would have set it.
    struct StreamState {
        int Width = 0;
        int Height = 0;
        AVPixelFormat PixelFormat = AV_PIX_FMT_NONE;
        AVRational AspectRatio = {0, 1};
        AVRational FrameRate = {0, 1};
        int HasBFrames = 0;
        void ApplyTo(AVCodecContext* decoder) const;
    };

    // Decoders for the stream, one per core up to four, each a copy of the model context (the
    // stream's decoder context, with the options given for it) on one thread; or nullptr when
    // the stream is not cut into groups, its index shows a group too long to be held ahead in
    // memory, fewer than two cores are to be used, or a decoder does not open.
    static std::unique_ptr<GroupedDecoding> Open(const AVCodecContext* model, const AVStream* st,
                                                 const AVCodec* codec, int32_t cores);

    // Takes over the opened decoders; a group that is not the next to be taken holds at most
    // picturesAhead decoded pictures.
    GroupedDecoding(GroupCuts cuts, std::vector<AVCodecContext*> decoders, size_t picturesAhead);
    // Stops the decoders' threads and frees the decoders and what is in flight.
    ~GroupedDecoding();
    GroupedDecoding(const GroupedDecoding&) = delete;
    GroupedDecoding& operator=(const GroupedDecoding&) = delete;

    // Hands over a new reference to the packet, or the stream's end (nullptr). False when the
    // packet could not be referenced.
    bool Send(const AVPacket* packet);
    // Moves the next picture into `picture` and returns 0; AVERROR(EAGAIN) when the next one
    // needs packets not yet sent; AVERROR_EOF once every picture was taken after the end was
    // sent; another negative value where a packet could not be decoded. Waits for the decoders
    // while the packets sent are enough for them to go on with.
    int Receive(AVFrame* picture, StreamState& state);

    // Whether the decoders would go on with more packets: Receive waits for a picture only
    // when they would not.
    bool TakesMorePackets();

    size_t Lanes() const { return decoders_.size(); }

private:
    struct Decoded {
        AVFrame* Picture = nullptr; // owned until taken; nullptr with an error
        int Error = 0;
        StreamState State;
    };
    struct Group {
        std::deque<AVPacket*> Packets; // sent, not yet taken by its decoder
        size_t Sent = 0;
        bool Complete = false; // the next group began, or the stream ended
        std::deque<Decoded> Pictures;
        bool Done = false; // its decoder gave every picture of it
    };

    void Run(size_t lane);
    Group* WaitForGroup(uint64_t number);
    void DecodeGroup(Group& group, AVCodecContext* decoder);
    void Decode(Group& group, AVCodecContext* decoder, const AVPacket* packet);
    void Keep(Group& group, Decoded decoded);
    bool ReceiverMustWait() const;
    void WakeLanes();
    void WakeReceiver();
    template <typename Ready> void LaneWait(std::unique_lock<std::mutex>& lock, Ready ready);

    const GroupCuts cuts_;
    const std::vector<AVCodecContext*> decoders_;
    const size_t picturesAhead_;
    const size_t packetsAhead_;
    std::mutex mutex_;
    std::condition_variable lanesWake_;    // for a group, its packets, or room for pictures
    std::condition_variable receiverWake_; // for a picture, or room for packets
    int lanesWaiting_ = 0;
    bool receiverWaits_ = false;
    std::deque<std::unique_ptr<Group>> groups_; // oldest first; the last is being sent
    uint64_t firstGroup_ = 0;                   // the number of groups_.front()
    uint64_t groupsBegun_ = 0;
    size_t packetsWaiting_ = 0;
    bool ended_ = false;
    bool quit_ = false;
    std::vector<std::thread> threads_;
};

} // namespace mobivert::engine
