#include "engine/open/SourceTags.h"

#include "binding/AVUtilHlpr.h"

#include <cstring>

namespace mobivert::engine {

namespace {

// The tags players show, under FFmpeg's generic names. A source that names the artist
// "author" (ASF, RealMedia) gives it as the artist.
constexpr const char* kCommonTags[] = {"title",   "artist",   "album",    "album_artist",
                                       "track",   "disc",     "date",     "genre",
                                       "comment", "composer", "copyright"};

const char* TagValue(const AVDictionary* tags, const char* key) {
    const AVDictionaryEntry* entry = av::av_dict_get(tags, key, nullptr, 0);
    if (!entry && std::strcmp(key, "artist") == 0)
        entry = av::av_dict_get(tags, "author", nullptr, 0);
    if (!entry && std::strcmp(key, "date") == 0)
        entry = av::av_dict_get(tags, "year", nullptr, 0);
    return entry && entry->value && *entry->value ? entry->value : nullptr;
}

const AVDictionary* FirstAudioTags(const AVFormatContext* in) {
    for (unsigned i = 0; i < in->nb_streams; ++i)
        if (in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return in->streams[i]->metadata;
    return nullptr;
}

} // namespace

void CopySourceTags(const AVFormatContext* in, AVFormatContext* out) {
    if (!in || !out)
        return;
    const AVDictionary* streamTags = FirstAudioTags(in);
    for (const char* key : kCommonTags) {
        const char* value = TagValue(in->metadata, key);
        if (!value && streamTags)
            value = TagValue(streamTags, key);
        if (value)
            av::av_dict_set(&out->metadata, key, value, 0);
    }
}

void SettleTagForm(AVFormatContext* out) {
    if (!out || !out->oformat || !out->priv_data || std::strcmp(out->oformat->name, "mp3") != 0)
        return;
    if (TagValue(out->metadata, "comment"))
        av::av_opt_set_int(out->priv_data, "write_id3v1", 1, 0);
}

bool HoldsCoverPicture(const AVOutputFormat* format) {
    if (!format || !format->name)
        return false;
    for (const char* name : {"mp3", "mp4", "ipod", "flac"})
        if (std::strcmp(format->name, name) == 0)
            return true;
    return false;
}

int CoverPictureStream(const AVFormatContext* in) {
    for (unsigned i = 0; in && i < in->nb_streams; ++i) {
        const AVStream* st = in->streams[i];
        if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->attached_pic.size <= 0)
            continue;
        const AVCodecID id = st->codecpar->codec_id;
        if (id == AV_CODEC_ID_MJPEG || id == AV_CODEC_ID_PNG)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace mobivert::engine
