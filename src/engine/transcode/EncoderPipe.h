#pragma once
// A video encoder fed on a thread of its own. The conversion's thread hands over each picture
// and takes back the packets coded so far, so that it goes on reading and decoding the next
// pictures while the encoder codes the last ones. Without it, a slice-threaded encoder codes
// every picture on the conversion's thread, and the cores meant for the codecs wait.
//
// Pictures may arrive at another size or pixel format than the encoder's: the pipe then
// rescales them on its thread before coding them (in the order they came, as the conversion's
// thread would), so that the scaler too runs beside the decoder.
//
// The pipe owns its thread, its scaler and what is in flight; the encoder context stays the
// session's and is touched by no one else between Start and Drain (or the pipe's end).

#include "engine/video/PictureRescaler.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace mobivert::engine {

class EncoderPipe {
public:
    // A packet the encoder gave back, with the two-pass statistics text it left with it.
    struct Coded {
        AVPacket* Packet = nullptr; // owned by the receiver once taken
        std::string Stats;
    };

    // Starts the thread for an opened encoder; at most `depth` pictures wait for it. With a
    // rescaler, pictures whose size or format differ from the encoder's are rescaled on the
    // thread; without one every picture must arrive ready to code.
    EncoderPipe(AVCodecContext* encoder, size_t depth,
                std::unique_ptr<PictureRescaler> rescaler = nullptr);
    // Stops the thread (dropping pictures not yet coded) and frees what is in flight.
    ~EncoderPipe();
    EncoderPipe(const EncoderPipe&) = delete;
    EncoderPipe& operator=(const EncoderPipe&) = delete;

    // Hands over a new reference to the frame; waits while `depth` pictures wait already.
    // False when the frame could not be referenced.
    bool Send(const AVFrame* frame);
    // Waits until every picture handed over has been coded (or the encoder failed).
    void Drain();
    // The packets coded so far, in the order the encoder gave them.
    std::vector<Coded> Take();
    // Why the encoder failed (with the library's reason), empty while it has not. After a
    // failure the pipe codes nothing more.
    std::string Failure();
    // Whether a picture handed over now would be taken without waiting.
    bool HasRoom();
    // Whether the pipe rescales pictures that do not fit the encoder.
    bool Rescales() const { return rescaler_ != nullptr; }

private:
    void Run();
    AVFrame* Ready(AVFrame* frame, std::string& failure);
    void Code(AVFrame* frame);

    AVCodecContext* encoder_;
    const size_t depth_;
    const std::unique_ptr<PictureRescaler> rescaler_; // used on the pipe's thread only
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<AVFrame*> waiting_;
    std::vector<Coded> coded_;
    bool coding_ = false; // a picture taken from waiting_ is being coded
    bool quit_ = false;
    std::string failure_;
    std::thread thread_;
};

} // namespace mobivert::engine
