#include "engine/transcode/EncoderPipe.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/LibraryReason.h"

#include <utility>

namespace mobivert::engine {

EncoderPipe::EncoderPipe(AVCodecContext* encoder, size_t depth,
                         std::unique_ptr<PictureRescaler> rescaler)
    : encoder_(encoder), depth_(depth < 1 ? 1 : depth), rescaler_(std::move(rescaler)),
      thread_([this] { Run(); }) {}

EncoderPipe::~EncoderPipe() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
    for (AVFrame*& frame : waiting_)
        av::av_frame_free(&frame);
    for (Coded& coded : coded_)
        av::av_packet_free(&coded.Packet);
}

bool EncoderPipe::Send(const AVFrame* frame) {
    AVFrame* reference = av::av_frame_alloc();
    if (!reference || av::av_frame_ref(reference, frame) < 0) {
        av::av_frame_free(&reference);
        return false;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return waiting_.size() < depth_ || !failure_.empty(); });
    if (!failure_.empty()) {
        lock.unlock();
        av::av_frame_free(&reference);
        return true;
    }
    waiting_.push_back(reference);
    changed_.notify_all();
    return true;
}

bool EncoderPipe::HasRoom() {
    std::lock_guard lock(mutex_);
    return waiting_.size() < depth_ || !failure_.empty();
}

void EncoderPipe::Drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return (waiting_.empty() && !coding_) || !failure_.empty(); });
}

std::vector<EncoderPipe::Coded> EncoderPipe::Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(coded_, {});
}

std::string EncoderPipe::Failure() {
    std::lock_guard lock(mutex_);
    return failure_;
}

void EncoderPipe::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return quit_ || !waiting_.empty(); });
        if (quit_)
            return;
        AVFrame* frame = waiting_.front();
        waiting_.pop_front();
        coding_ = true;
        changed_.notify_all();
        lock.unlock();
        Code(frame);
        lock.lock();
        coding_ = false;
        changed_.notify_all();
    }
}

// The picture as the encoder takes it: itself, or a rescaled copy that replaces it (nullptr with
// the failure when none could be made).
AVFrame* EncoderPipe::Ready(AVFrame* frame, std::string& failure) {
    const bool fits = frame->width == encoder_->width && frame->height == encoder_->height &&
                      frame->format == encoder_->pix_fmt;
    if (fits || !rescaler_)
        return frame;
    AVFrame* rescaled =
        rescaler_->Rescale(frame, encoder_->width, encoder_->height, encoder_->pix_fmt, failure);
    av::av_frame_free(&frame);
    return rescaled;
}

// Sends the picture (rescaled first when it needs it) and collects every packet the encoder
// gives back for it; a failure is kept for the conversion's thread, which ends the run with it.
void EncoderPipe::Code(AVFrame* frame) {
    LibraryReason reason;
    std::vector<Coded> packets;
    std::string failure;
    frame = Ready(frame, failure);
    if (frame && av::avcodec_send_frame(encoder_, frame) < 0)
        failure = reason.Explain("Video encoding failed");
    while (failure.empty()) {
        AVPacket* packet = av::av_packet_alloc();
        if (!packet) {
            failure = "av_mallocz fail";
            break;
        }
        int ret = av::avcodec_receive_packet(encoder_, packet);
        if (ret < 0) {
            av::av_packet_free(&packet);
            if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
                failure = reason.Explain("Video encoding failed");
            break;
        }
        packets.push_back({packet, encoder_->stats_out ? encoder_->stats_out : ""});
    }
    av::av_frame_free(&frame);
    std::lock_guard lock(mutex_);
    for (Coded& coded : packets)
        coded_.push_back(std::move(coded));
    if (!failure.empty() && failure_.empty()) {
        failure_ = failure;
        // Nothing more will be coded: pictures still waiting go.
        for (AVFrame*& waiting : waiting_)
            av::av_frame_free(&waiting);
        waiting_.clear();
    }
}

} // namespace mobivert::engine
