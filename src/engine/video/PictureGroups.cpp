#include "engine/video/PictureGroups.h"

#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"

#include <algorithm>

namespace mobivert::engine {

namespace {

constexpr int H264RefreshUnit = 5;     // coded slice of an IDR picture
constexpr int HevcRefreshLeading = 19; // IDR picture that may have decodable leading pictures
constexpr int HevcRefreshAlone = 20;   // IDR picture without leading pictures

// The length prefix's size from an avcC or hvcC header, or 0 when the header is not one.
int LengthSizeOf(const AVCodecParameters* par) {
    const uint8_t* header = par->extradata;
    const int size = par->extradata_size;
    // Both headers start with configuration version 1; a stream whose header starts with a
    // start code carries its units in Annex B form instead.
    if (!header || size < 1 || header[0] != 1)
        return 0;
    int sizeMinusOne = -1;
    if (par->codec_id == AV_CODEC_ID_H264 && size >= 7)
        sizeMinusOne = header[4] & 3;
    else if (par->codec_id == AV_CODEC_ID_HEVC && size >= 23)
        sizeMinusOne = header[21] & 3;
    // Two bits give 1, 2, 3 or 4 bytes; 3 is not a size either codec allows.
    return sizeMinusOne == 0 || sizeMinusOne == 1 || sizeMinusOne == 3 ? sizeMinusOne + 1 : 0;
}

uint32_t ReadLength(const uint8_t* at, int size) {
    uint32_t length = 0;
    for (int k = 0; k < size; ++k)
        length = length << 8 | at[k];
    return length;
}

} // namespace

std::optional<GroupCuts> GroupCuts::Of(const AVCodecParameters* par) {
    if (!par || par->codec_type != AVMEDIA_TYPE_VIDEO)
        return std::nullopt;
    const int lengthSize = LengthSizeOf(par);
    if (lengthSize == 0)
        return std::nullopt;
    return GroupCuts(par->codec_id, lengthSize);
}

bool GroupCuts::IsRefreshUnit(uint8_t header) const {
    if (codec_ == AV_CODEC_ID_H264)
        return (header & 0x1f) == H264RefreshUnit;
    const int type = (header >> 1) & 0x3f;
    return type == HevcRefreshLeading || type == HevcRefreshAlone;
}

bool GroupCuts::Begins(const AVPacket* packet) const {
    if (!packet || !(packet->flags & AV_PKT_FLAG_KEY) || !packet->data)
        return false;
    const uint8_t* data = packet->data;
    const int64_t size = packet->size;
    int64_t at = 0;
    while (at + lengthSize_ < size) {
        const int64_t length = ReadLength(data + at, lengthSize_);
        at += lengthSize_;
        // A unit that runs past the packet's end makes the packet suspect: it starts nothing.
        if (length == 0 || at + length > size)
            return false;
        if (IsRefreshUnit(data[at]))
            return true;
        at += length;
    }
    return false;
}

int64_t LongestIndexedGroup(const AVStream* st) {
    AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0 || st->time_base.num <= 0 || st->time_base.den <= 0)
        return 0;
    const int entries = av::avformat_index_get_entries_count(st);
    int64_t lastKey = AV_NOPTS_VALUE;
    int64_t lastEntry = AV_NOPTS_VALUE;
    int64_t longest = 0;
    int keys = 0;
    for (int k = 0; k < entries; ++k) {
        const AVIndexEntry* entry = av::avformat_index_get_entry(const_cast<AVStream*>(st), k);
        if (!entry || entry->timestamp == AV_NOPTS_VALUE)
            continue;
        lastEntry = std::max(lastEntry, entry->timestamp);
        if (!(entry->flags & AVINDEX_KEYFRAME))
            continue;
        if (lastKey != AV_NOPTS_VALUE)
            longest = std::max(longest, entry->timestamp - lastKey);
        lastKey = entry->timestamp;
        ++keys;
    }
    if (keys < 2)
        return 0;
    // The last group runs to the last picture the index lists (an index of key pictures alone
    // leaves it out).
    const AVRational picture = {rate.den, rate.num};
    const int64_t inLast =
        av::av_rescale_q_rnd(lastEntry - lastKey, st->time_base, picture, AV_ROUND_UP) +
        (lastEntry > lastKey ? 1 : 0);
    return std::max(av::av_rescale_q_rnd(longest, st->time_base, picture, AV_ROUND_UP), inLast);
}

} // namespace mobivert::engine
