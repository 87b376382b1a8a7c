#pragma once
// What an output carries over from its source besides the media: the common tags (title,
// artist, album, ...) and the picture attached to the file as its cover. The muxers write the
// tags in their container's own form (ID3v2 frames, iTunes atoms, ASF attributes, RIFF INFO).

extern "C" {
#include <libavformat/avformat.h>
}

namespace mobivert::engine {

// Copies the source's common tags into the output's meta-data: the container's own, else the
// first audio stream's (Ogg and some other containers keep them there).
void CopySourceTags(const AVFormatContext* in, AVFormatContext* out);

// Settles how the output's muxer writes the tags it was given, just before its header is
// written: an MP3 output with a comment also gets an ID3v1 tag, because the library's ID3v2
// writer has no COMM frame (it stores the comment as a user text frame, TXXX "comment", which
// players and tag readers do not show as the comment) while ID3v1's comment field is read by
// all of them.
void SettleTagForm(AVFormatContext* out);

// True when the output format can hold a cover picture beside its media (MP3, MP4, M4A, FLAC).
bool HoldsCoverPicture(const AVOutputFormat* format);

// The index of the source's cover picture (a still JPEG or PNG picture attached to the file),
// or -1 when it has none.
int CoverPictureStream(const AVFormatContext* in);

} // namespace mobivert::engine
