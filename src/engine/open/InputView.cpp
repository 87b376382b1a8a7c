#include "engine/open/InputView.h"

#include "binding/AVUtilHlpr.h"

#include <string>

namespace mobivert::engine {

namespace {

void Add(std::string& view, int64_t value) {
    view += std::to_string(value);
    view += ',';
}

// FNV-1a over the bytes, so that decoder set-up data that differs gives another view.
uint64_t Digest(const uint8_t* data, int size) {
    uint64_t hash = 14695981039346656037ULL;
    for (int k = 0; k < size; ++k)
        hash = (hash ^ data[k]) * 1099511628211ULL;
    return hash;
}

void AddStream(std::string& view, const AVStream* st) {
    const AVCodecParameters* par = st->codecpar;
    for (int64_t value :
         {int64_t{par->codec_id},
          int64_t{par->codec_tag},
          int64_t{par->format},
          int64_t{par->sample_rate},
          int64_t{par->ch_layout.order},
          int64_t{par->ch_layout.nb_channels},
          static_cast<int64_t>(
              par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0),
          int64_t{par->bits_per_coded_sample},
          int64_t{par->bits_per_raw_sample},
          int64_t{par->block_align},
          int64_t{par->frame_size},
          par->bit_rate,
          int64_t{par->initial_padding},
          int64_t{par->trailing_padding},
          int64_t{par->profile},
          int64_t{st->time_base.num},
          int64_t{st->time_base.den},
          st->start_time,
          st->duration,
          st->nb_frames,
          int64_t{st->disposition},
          int64_t{av::av_dict_count(st->metadata)},
          int64_t{par->extradata_size}})
        Add(view, value);
    Add(view, static_cast<int64_t>(Digest(par->extradata, par->extradata_size)));
    view += ';';
}

} // namespace

std::string InputView(const AVFormatContext* ic) {
    if (!ic || !ic->iformat || ic->nb_streams == 0)
        return {};
    for (unsigned k = 0; k < ic->nb_streams; ++k)
        if (ic->streams[k]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            return {};
    std::string view = ic->iformat->name ? ic->iformat->name : "";
    view += ':';
    for (int64_t value :
         {ic->start_time, ic->duration, ic->bit_rate, int64_t{ic->duration_estimation_method},
          int64_t{ic->nb_chapters}, int64_t{ic->nb_programs}, int64_t{ic->nb_streams},
          int64_t{av::av_dict_count(ic->metadata)}})
        Add(view, value);
    view += ';';
    for (unsigned k = 0; k < ic->nb_streams; ++k)
        AddStream(view, ic->streams[k]);
    return view;
}

} // namespace mobivert::engine
