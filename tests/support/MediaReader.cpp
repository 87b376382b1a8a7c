#include "support/MediaReader.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "support/ShellCommand.h"

#include <algorithm>

namespace mobivert::test {

const StreamSummary* MediaSummary::First(AVMediaType type) const& {
    for (const StreamSummary& stream : Streams)
        if (stream.Type == type)
            return &stream;
    return nullptr;
}

MediaSummary ReadMedia(const std::string& path) {
    MediaSummary summary;
    AVFormatContext* ic = nullptr;
    if (av::avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0)
        return summary;
    if (av::avformat_find_stream_info(ic, nullptr) < 0) {
        av::avformat_close_input(&ic);
        return summary;
    }
    summary.Opened = true;
    summary.FormatName = ic->iformat->name;
    std::vector<bool> timed(ic->nb_streams, false);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVCodecParameters* par = ic->streams[i]->codecpar;
        StreamSummary stream;
        stream.Type = par->codec_type;
        stream.Codec = av::avcodec_get_name(par->codec_id);
        stream.Width = par->width;
        stream.Height = par->height;
        stream.Channels = par->ch_layout.nb_channels;
        stream.SampleRate = par->sample_rate;
        summary.Streams.push_back(stream);
    }
    AVPacket* pkt = av::av_packet_alloc();
    while (av::av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index >= static_cast<int>(summary.Streams.size())) {
            av::av_packet_unref(pkt); // a stream that appeared after the header
            continue;
        }
        StreamSummary& stream = summary.Streams[pkt->stream_index];
        AVRational tb = ic->streams[pkt->stream_index]->time_base;
        bool key = pkt->flags & AV_PKT_FLAG_KEY;
        if (stream.Packets == 0)
            stream.FirstPacketIsKey = key;
        ++stream.Packets;
        stream.KeyPackets += key;
        int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
        if (ts != AV_NOPTS_VALUE) {
            double start = ts * av_q2d(tb);
            double end = (ts + pkt->duration) * av_q2d(tb);
            if (!timed[pkt->stream_index]) {
                stream.FirstTime = start;
                timed[pkt->stream_index] = true;
            }
            stream.FirstTime = std::min(stream.FirstTime, start);
            stream.EndTime = std::max(stream.EndTime, end);
        }
        av::av_packet_unref(pkt);
    }
    av::av_packet_free(&pkt);
    av::avformat_close_input(&ic);
    return summary;
}

std::string Discover(const std::string& path) {
    return RunCommand("gst-discoverer-1.0 '" + path + "' 2>&1");
}

StreamSummary ReadFirstStream(const std::string& path, AVMediaType type) {
    const MediaSummary media = ReadMedia(path);
    const StreamSummary* stream = media.First(type);
    return stream ? *stream : StreamSummary{};
}

} // namespace mobivert::test
