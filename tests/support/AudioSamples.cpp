#include "support/AudioSamples.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "support/ShellCommand.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace mobivert::test {

int DecodedAudio::Peak(int channel) const {
    int peak = 0;
    for (int64_t i = 0; i < Frames(); ++i)
        peak = std::max(peak, std::abs(static_cast<int>(At(i, channel))));
    return peak;
}

double DecodedAudio::Rms(int channel, int64_t from, int64_t to) const {
    if (to < 0 || to > Frames())
        to = Frames();
    if (to <= from)
        return 0;
    double sum = 0;
    for (int64_t i = from; i < to; ++i)
        sum += static_cast<double>(At(i, channel)) * At(i, channel);
    return std::sqrt(sum / static_cast<double>(to - from));
}

double DecodedAudio::Frequency(int channel, int64_t from, int64_t to) const {
    if (to < 0 || to > Frames())
        to = Frames();
    int64_t first = -1;
    int64_t last = -1;
    int crossings = 0;
    for (int64_t i = from + 1; i < to; ++i) {
        if (At(i - 1, channel) < 0 && At(i, channel) >= 0) {
            if (first < 0)
                first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0;
    return static_cast<double>(crossings - 1) * SampleRate / static_cast<double>(last - first);
}

int64_t DecodedAudio::FirstAbove(int level) const {
    for (size_t i = 0; i < Samples.size(); ++i)
        if (std::abs(static_cast<int>(Samples[i])) > level)
            return static_cast<int64_t>(i) / Channels;
    return -1;
}

namespace {

struct DecoderHolder {
    AVFormatContext* Input = nullptr;
    AVCodecContext* Decoder = nullptr;
    SwrContext* Converter = nullptr;
    AVPacket* Packet = av::av_packet_alloc();
    AVFrame* Frame = av::av_frame_alloc();
    ~DecoderHolder() {
        av::av_frame_free(&Frame);
        av::av_packet_free(&Packet);
        av::swr_free(&Converter);
        av::avcodec_free_context(&Decoder);
        av::avformat_close_input(&Input);
    }
};

void TakeFrame(DecoderHolder& h, DecodedAudio& audio) {
    AVFrame* frame = h.Frame;
    if (!h.Converter) {
        AVChannelLayout layout{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av::av_channel_layout_default(&layout, frame->ch_layout.nb_channels);
        else
            av::av_channel_layout_copy(&layout, &frame->ch_layout);
        av::swr_alloc_set_opts2(&h.Converter, &layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                                &layout, static_cast<AVSampleFormat>(frame->format),
                                frame->sample_rate, 0, nullptr);
        av::av_channel_layout_uninit(&layout);
        av::swr_init(h.Converter);
        audio.Channels = frame->ch_layout.nb_channels;
        audio.SampleRate = frame->sample_rate;
    }
    size_t old = audio.Samples.size();
    audio.Samples.resize(old + static_cast<size_t>(frame->nb_samples) * audio.Channels);
    uint8_t* out[] = {reinterpret_cast<uint8_t*>(audio.Samples.data() + old)};
    int got = av::swr_convert(h.Converter, out, frame->nb_samples,
                              const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    audio.Samples.resize(old + static_cast<size_t>(std::max(got, 0)) * audio.Channels);
}

void ReceiveFrames(DecoderHolder& h, DecodedAudio& audio) {
    while (true) {
        int ret = av::avcodec_receive_frame(h.Decoder, h.Frame);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return;
        if (ret < 0) {
            ++audio.DecodeErrors;
            return;
        }
        TakeFrame(h, audio);
        av::av_frame_unref(h.Frame);
    }
}

} // namespace

DecodedAudio DecodeAudio(const std::string& path) {
    DecodedAudio audio;
    DecoderHolder h;
    if (av::avformat_open_input(&h.Input, path.c_str(), nullptr, nullptr) < 0 ||
        av::avformat_find_stream_info(h.Input, nullptr) < 0)
        return audio;
    int index = av::av_find_best_stream(h.Input, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        return audio;
    const AVCodecParameters* par = h.Input->streams[index]->codecpar;
    const AVCodec* codec = av::avcodec_find_decoder(par->codec_id);
    h.Decoder = av::avcodec_alloc_context3(codec);
    if (!codec || av::avcodec_parameters_to_context(h.Decoder, par) < 0 ||
        av::avcodec_open2(h.Decoder, codec, nullptr) < 0)
        return audio;
    audio.Opened = true;
    audio.Codec = av::avcodec_get_name(par->codec_id);
    while (av::av_read_frame(h.Input, h.Packet) >= 0) {
        if (h.Packet->stream_index == index) {
            if (av::avcodec_send_packet(h.Decoder, h.Packet) < 0)
                ++audio.DecodeErrors;
            ReceiveFrames(h, audio);
        }
        av::av_packet_unref(h.Packet);
    }
    av::avcodec_send_packet(h.Decoder, nullptr);
    ReceiveFrames(h, audio);
    if (!audio.Channels) {
        audio.Channels = par->ch_layout.nb_channels;
        audio.SampleRate = par->sample_rate;
    }
    return audio;
}

GstAudio GstDecodeAudio(const std::string& path, const std::string& scratchDir) {
    GstAudio audio;
    std::string discovered = RunCommand("gst-discoverer-1.0 -v '" + path + "' 2>&1");
    audio.Output = discovered;
    // The first stream description that gives a channel count and a rate (a container may
    // list its raw stream before the decodable one).
    auto firstPositive = [&](const std::string& label) {
        for (size_t at = discovered.find(label); at != std::string::npos;
             at = discovered.find(label, at + 1))
            if (int value = std::atoi(discovered.c_str() + at + label.size()); value > 0)
                return value;
        return 0;
    };
    audio.Channels = firstPositive("Channels: ");
    audio.SampleRate = firstPositive("Sample rate: ");
    std::string raw = (std::filesystem::path(scratchDir) / "gst-decoded.raw").string();
    std::string pipeline = RunCommand(
        "gst-launch-1.0 -q filesrc location='" + path +
        "' ! decodebin ! audioconvert ! audio/x-raw,format=S16LE,layout=interleaved ! filesink "
        "location='" +
        raw + "' 2>&1; echo \"exit=$?\"");
    audio.Output += pipeline;
    audio.Decoded = pipeline.find("exit=0") != std::string::npos &&
                    pipeline.find("ERROR") == std::string::npos && audio.Channels > 0;
    std::error_code error;
    auto bytes = std::filesystem::file_size(raw, error);
    if (!error && audio.Channels > 0)
        audio.Frames = static_cast<int64_t>(bytes) / (2 * audio.Channels);
    std::filesystem::remove(raw, error);
    return audio;
}

int16_t Sine(int64_t frame, int rate, double frequency, double amplitude) {
    const double phase = 2.0 * M_PI * frequency * static_cast<double>(frame) / rate;
    return static_cast<int16_t>(std::lrint(std::sin(phase) * amplitude * 32767.0));
}

std::string WritePcmMatroska(const std::string& path, int rate, int channels, int64_t totalFrames,
                             int samplesPerPacket,
                             const std::function<int16_t(int64_t, int)>& sample) {
    AVFormatContext* oc = nullptr;
    if (av::avformat_alloc_output_context2(&oc, nullptr, "matroska", path.c_str()) < 0)
        return "no matroska muxer";
    std::string failure;
    AVStream* st = av::avformat_new_stream(oc, nullptr);
    AVPacket* pkt = av::av_packet_alloc();
    if (!st || !pkt) {
        failure = "no stream";
    } else {
        AVCodecParameters* par = st->codecpar;
        par->codec_type = AVMEDIA_TYPE_AUDIO;
        par->codec_id = AV_CODEC_ID_PCM_S16LE;
        par->sample_rate = rate;
        av::av_channel_layout_default(&par->ch_layout, channels);
        par->bits_per_coded_sample = 16;
        par->block_align = 2 * channels;
        st->time_base = AVRational{1, 1000};
        if (av::avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 ||
            av::avformat_write_header(oc, nullptr) < 0)
            failure = "cannot write the header";
    }
    for (int64_t first = 0; failure.empty() && first < totalFrames; first += samplesPerPacket) {
        const int frames =
            static_cast<int>(std::min<int64_t>(samplesPerPacket, totalFrames - first));
        if (av::av_new_packet(pkt, frames * channels * 2) < 0) {
            failure = "no packet";
            break;
        }
        auto* data = reinterpret_cast<int16_t*>(pkt->data);
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                data[i * channels + c] = sample(first + i, c);
        pkt->pts = pkt->dts = av::av_rescale_q(first, AVRational{1, rate}, st->time_base);
        pkt->duration = av::av_rescale_q(frames, AVRational{1, rate}, st->time_base);
        pkt->stream_index = 0;
        pkt->flags |= AV_PKT_FLAG_KEY;
        if (av::av_write_frame(oc, pkt) < 0)
            failure = "cannot write a packet";
        av::av_packet_unref(pkt);
    }
    if (failure.empty() && av::av_write_trailer(oc) < 0)
        failure = "cannot write the trailer";
    av::av_packet_free(&pkt);
    if (oc->pb)
        av::avio_closep(&oc->pb);
    av::avformat_free_context(oc);
    return failure;
}

} // namespace mobivert::test
