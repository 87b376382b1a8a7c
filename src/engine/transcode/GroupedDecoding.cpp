#include "engine/transcode/GroupedDecoding.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/CodecLock.h"

#include <algorithm>
#include <utility>

namespace mobivert::engine {

namespace {

// Decoded pictures the groups ahead may hold in all: a group of 90 720p pictures, or 40 at
// 1080p. A stream whose index lists a longer group is left to the decoder's own threads.
constexpr int64_t PicturesAheadBytes = 128LL * 1024 * 1024;
constexpr int32_t MostLanes = 4;
// The longest group decoded side by side, in seconds. The file is read up to two groups ahead of
// the pictures taken, so its sound runs that far ahead of them; the muxer holds sound for up to
// 10 s while it waits for pictures, and interleaves it with them as it would without groups.
constexpr int64_t MostGroupSeconds = 3;

void FreeDecoders(std::vector<AVCodecContext*>& decoders) {
    std::lock_guard lock(CodecLock());
    for (AVCodecContext*& decoder : decoders)
        av::avcodec_free_context(&decoder);
    decoders.clear();
}

// A one-thread decoder like the model, with the options given for the stream.
AVCodecContext* OpenLaneDecoder(const AVCodecContext* model, const AVStream* st,
                                const AVCodec* codec) {
    AVCodecContext* decoder = av::avcodec_alloc_context3(codec);
    if (!decoder)
        return nullptr;
    bool ready = av::av_opt_copy(decoder, model) >= 0 &&
                 av::avcodec_parameters_to_context(decoder, st->codecpar) >= 0;
    if (ready) {
        decoder->thread_count = 1;
        decoder->pkt_timebase = model->pkt_timebase.num > 0 ? model->pkt_timebase : st->time_base;
        std::lock_guard lock(CodecLock());
        ready = av::avcodec_open2(decoder, codec, nullptr) >= 0;
    }
    if (!ready) {
        std::lock_guard lock(CodecLock());
        av::avcodec_free_context(&decoder);
    }
    return decoder;
}

// Decoded pictures one group ahead may hold, or 0 when the stream's groups do not fit.
size_t PicturesAheadFor(const AVStream* st, int32_t lanes) {
    const AVCodecParameters* par = st->codecpar;
    const int bytes = av::av_image_get_buffer_size(static_cast<AVPixelFormat>(par->format),
                                                   par->width, par->height, 1);
    const int64_t longest = LongestIndexedGroup(st);
    const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    if (bytes <= 0 || longest <= 0 || longest * rate.den > MostGroupSeconds * rate.num)
        return 0;
    const int64_t ahead = PicturesAheadBytes / (lanes - 1) / bytes;
    return longest <= ahead ? static_cast<size_t>(ahead) : 0;
}

} // namespace

void GroupedDecoding::StreamState::ApplyTo(AVCodecContext* decoder) const {
    decoder->width = Width;
    decoder->height = Height;
    decoder->pix_fmt = PixelFormat;
    decoder->sample_aspect_ratio = AspectRatio;
    decoder->framerate = FrameRate;
    decoder->has_b_frames = HasBFrames;
}

std::unique_ptr<GroupedDecoding> GroupedDecoding::Open(const AVCodecContext* model,
                                                       const AVStream* st, const AVCodec* codec,
                                                       int32_t cores) {
    const int32_t lanes = std::min(cores, MostLanes);
    std::optional<GroupCuts> cuts = GroupCuts::Of(st->codecpar);
    if (lanes < 2 || !cuts)
        return nullptr;
    const size_t ahead = PicturesAheadFor(st, lanes);
    if (ahead == 0)
        return nullptr;
    std::vector<AVCodecContext*> decoders;
    for (int32_t k = 0; k < lanes; ++k) {
        AVCodecContext* decoder = OpenLaneDecoder(model, st, codec);
        if (!decoder) {
            FreeDecoders(decoders);
            return nullptr;
        }
        decoders.push_back(decoder);
    }
    return std::make_unique<GroupedDecoding>(*cuts, std::move(decoders), ahead);
}

GroupedDecoding::GroupedDecoding(GroupCuts cuts, std::vector<AVCodecContext*> decoders,
                                 size_t picturesAhead)
    : cuts_(cuts), decoders_(std::move(decoders)),
      picturesAhead_(std::max<size_t>(1, picturesAhead)),
      packetsAhead_(picturesAhead_ * decoders_.size()) {
    for (size_t lane = 0; lane < decoders_.size(); ++lane)
        threads_.emplace_back([this, lane] { Run(lane); });
}

GroupedDecoding::~GroupedDecoding() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    lanesWake_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
    for (auto& group : groups_) {
        for (AVPacket*& packet : group->Packets)
            av::av_packet_free(&packet);
        for (Decoded& decoded : group->Pictures)
            av::av_frame_free(&decoded.Picture);
    }
    std::vector<AVCodecContext*> decoders = decoders_;
    FreeDecoders(decoders);
}

bool GroupedDecoding::Send(const AVPacket* packet) {
    if (!packet) {
        std::lock_guard lock(mutex_);
        if (!groups_.empty())
            groups_.back()->Complete = true;
        ended_ = true;
        WakeLanes();
        return true;
    }
    AVPacket* copy = av::av_packet_clone(packet);
    if (!copy)
        return false;
    const bool begins = cuts_.Begins(packet);
    std::lock_guard lock(mutex_);
    // A group that is still being sent is never done, so the last group is the one being sent.
    if (groups_.empty() || (begins && groups_.back()->Sent > 0)) {
        if (!groups_.empty())
            groups_.back()->Complete = true;
        groups_.push_back(std::make_unique<Group>());
        ++groupsBegun_;
    }
    Group& group = *groups_.back();
    group.Packets.push_back(copy);
    ++group.Sent;
    ++packetsWaiting_;
    WakeLanes();
    return true;
}

// The receiver waits while the decoders have enough to go on with: at the end, when every
// decoder has a group (and one more is being sent), or when many packets wait.
bool GroupedDecoding::ReceiverMustWait() const {
    return ended_ || groups_.size() > decoders_.size() || packetsWaiting_ > packetsAhead_;
}

bool GroupedDecoding::TakesMorePackets() {
    std::lock_guard lock(mutex_);
    return !ReceiverMustWait();
}

int GroupedDecoding::Receive(AVFrame* picture, StreamState& state) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (groups_.empty())
            return ended_ ? AVERROR_EOF : AVERROR(EAGAIN);
        Group& head = *groups_.front();
        if (!head.Pictures.empty()) {
            Decoded decoded = head.Pictures.front();
            // No decoder waits on the pictures of the group being taken (only on the groups
            // ahead, which wait for it to be let go).
            head.Pictures.pop_front();
            lock.unlock();
            if (!decoded.Picture)
                return decoded.Error;
            av::av_frame_move_ref(picture, decoded.Picture);
            av::av_frame_free(&decoded.Picture);
            state = decoded.State;
            return 0;
        }
        if (head.Done) {
            groups_.pop_front();
            ++firstGroup_;
            WakeLanes();
            continue;
        }
        if (!ReceiverMustWait())
            return AVERROR(EAGAIN);
        receiverWaits_ = true;
        receiverWake_.wait(lock);
        receiverWaits_ = false;
    }
}

// Each side is woken only while it waits: every wake-up costs a switch of threads.
void GroupedDecoding::WakeLanes() {
    if (lanesWaiting_ > 0)
        lanesWake_.notify_all();
}

void GroupedDecoding::WakeReceiver() {
    if (receiverWaits_)
        receiverWake_.notify_one();
}

template <typename Ready>
void GroupedDecoding::LaneWait(std::unique_lock<std::mutex>& lock, Ready ready) {
    ++lanesWaiting_;
    lanesWake_.wait(lock, ready);
    --lanesWaiting_;
}

// Decoder `lane` of n takes groups lane, lane + n, lane + 2n, ... each to its end.
void GroupedDecoding::Run(size_t lane) {
    for (uint64_t number = lane;; number += decoders_.size()) {
        Group* group = WaitForGroup(number);
        if (!group)
            return;
        DecodeGroup(*group, decoders_[lane]);
    }
}

// The group with that number once it has begun; nullptr at the end or when stopped. A group is
// not let go before its decoder is done with it, so it is still there.
GroupedDecoding::Group* GroupedDecoding::WaitForGroup(uint64_t number) {
    std::unique_lock lock(mutex_);
    LaneWait(lock, [&] { return quit_ || number < groupsBegun_ || ended_; });
    if (quit_ || number >= groupsBegun_)
        return nullptr;
    return groups_[number - firstGroup_].get();
}

void GroupedDecoding::DecodeGroup(Group& group, AVCodecContext* decoder) {
    for (;;) {
        AVPacket* packet = nullptr;
        {
            std::unique_lock lock(mutex_);
            LaneWait(lock, [&] { return quit_ || !group.Packets.empty() || group.Complete; });
            if (quit_)
                return;
            if (!group.Packets.empty()) {
                packet = group.Packets.front();
                group.Packets.pop_front();
                --packetsWaiting_;
                WakeReceiver();
            }
        }
        Decode(group, decoder, packet);
        if (!packet)
            break;
        av::av_packet_free(&packet);
    }
    // The group's last pictures are out; the decoder starts the next group afresh.
    av::avcodec_flush_buffers(decoder);
    std::lock_guard lock(mutex_);
    group.Done = true;
    WakeReceiver();
}

// Sends the packet (nullptr: the group's end) and keeps every picture that comes back.
void GroupedDecoding::Decode(Group& group, AVCodecContext* decoder, const AVPacket* packet) {
    int ret = av::avcodec_send_packet(decoder, packet);
    if (ret < 0 && ret != AVERROR_EOF && ret != AVERROR(EAGAIN))
        Keep(group, {nullptr, ret, {}});
    for (;;) {
        AVFrame* picture = av::av_frame_alloc();
        if (!picture) {
            Keep(group, {nullptr, AVERROR(ENOMEM), {}});
            return;
        }
        ret = av::avcodec_receive_frame(decoder, picture);
        if (ret < 0) {
            av::av_frame_free(&picture);
            if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
                Keep(group, {nullptr, ret, {}});
            return;
        }
        StreamState state{decoder->width,     decoder->height,
                          decoder->pix_fmt,   decoder->sample_aspect_ratio,
                          decoder->framerate, decoder->has_b_frames};
        Keep(group, {picture, 0, state});
    }
}

// Keeps a decoded picture (or error) in the group; a group ahead of the one being taken waits
// while it holds as many pictures as it may.
void GroupedDecoding::Keep(Group& group, Decoded decoded) {
    std::unique_lock lock(mutex_);
    LaneWait(lock, [&] {
        return quit_ || groups_.front().get() == &group || group.Pictures.size() < picturesAhead_;
    });
    if (quit_) {
        av::av_frame_free(&decoded.Picture);
        return;
    }
    group.Pictures.push_back(decoded);
    WakeReceiver();
}

} // namespace mobivert::engine
