#include "engine/open/SourceLength.h"

#include "binding/AVUtilHlpr.h"

#include <algorithm>

namespace mobivert::engine {

int64_t KnownSourceLength(const AVFormatContext* ic) {
    int64_t longest = AV_NOPTS_VALUE;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
        const AVStream* st = ic->streams[i];
        if (st->duration == AV_NOPTS_VALUE || st->duration <= 0 ||
            (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        int64_t length = av::av_rescale_q(st->duration, st->time_base, AV_TIME_BASE_Q);
        longest = longest == AV_NOPTS_VALUE ? length : std::max(longest, length);
    }
    if (ic->duration == AV_NOPTS_VALUE || ic->duration <= 0)
        return longest;
    return longest == AV_NOPTS_VALUE ? ic->duration : std::min(longest, ic->duration);
}

bool SourceLengthIsReliable(const AVFormatContext* ic) {
    return KnownSourceLength(ic) != AV_NOPTS_VALUE &&
           ic->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
}

} // namespace mobivert::engine
