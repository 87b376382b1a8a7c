#pragma once
// A video encoder fed on a thread of its own. The conversion's thread hands over each picture
// and takes back the packets coded so far, so that it goes on reading and decoding the next
// pictures while the encoder codes the last ones. Without it, a slice-threaded encoder codes
// every picture on the conversion's thread, and the cores meant for the codecs wait.
//
// The pipe owns only its thread and what is in flight; the encoder context stays the session's
// and is touched by no one else between Start and Drain (or the pipe's end).

#include <condition_variable>
#include <cstddef>
#include <deque>
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

    // Starts the thread for an opened encoder; at most `depth` pictures wait for it.
    EncoderPipe(AVCodecContext* encoder, size_t depth);
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

private:
    void Run();
    void Code(AVFrame* frame);

    AVCodecContext* encoder_;
    const size_t depth_;
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
