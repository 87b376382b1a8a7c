#include "engine/audio/AudioTrackChoice.h"

#include "binding/AVFormatHlpr.h"

namespace mobivert::engine {

int PreferredAudioStream(const AVFormatContext* ic, const std::vector<bool>& free) {
    int first = -1;
    int marked = -1;
    int count = 0;
    for (unsigned i = 0; i < ic->nb_streams && i < free.size(); ++i) {
        const AVStream* st = ic->streams[i];
        if (!free[i] || st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        ++count;
        if (first < 0)
            first = static_cast<int>(i);
        if (marked < 0 && (st->disposition & AV_DISPOSITION_DEFAULT))
            marked = static_cast<int>(i);
    }
    if (count <= 1)
        return first;
    // Containers that mark tracks mark one as the default; the others mark none, or (as some
    // muxers do by habit) every one, which says nothing.
    int markedCount = 0;
    for (unsigned i = 0; i < ic->nb_streams && i < free.size(); ++i)
        markedCount += free[i] && ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
                       (ic->streams[i]->disposition & AV_DISPOSITION_DEFAULT);
    if (marked >= 0 && markedCount < count)
        return marked;
    int best = av::av_find_best_stream(const_cast<AVFormatContext*>(ic), AVMEDIA_TYPE_AUDIO, -1, -1,
                                       nullptr, 0);
    if (best >= 0 && static_cast<size_t>(best) < free.size() && free[best])
        return best;
    return first;
}

} // namespace mobivert::engine
