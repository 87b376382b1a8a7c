#pragma once
// Pictures whose two fields are woven together although nothing flags them interlaced (a
// broadcast re-encoded as progressive, a camera's motion JPEG): told apart from progressive
// pictures by libavfilter's interlace detector over the stream's first pictures, so that the
// cost of looking is paid for a moment, not for the whole run.

#include <cstdint>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/frame.h>
}

namespace mobivert::engine {

struct WovenFieldCheck {
    AVFilterGraph* Graph = nullptr; // owned; freed when the verdict is in
    AVFilterContext* Source = nullptr;
    AVFilterContext* Sink = nullptr;
    AVFrame* Judged = nullptr; // owned
    int32_t PicturesLeft;      // pictures still to look at
    int32_t Judgements = 0;    // pictures the detector has given its view of
    int32_t Interlaced = 0;    // of which it found interlaced
    int32_t TopFirst = 0;      // of which top field first
    bool Woven = false;        // the verdict: the pictures are two fields each
    bool WovenTopFirst = true;

    WovenFieldCheck();
};

// Looks at one more picture while the check is open, and flags it interlaced (with its field
// order) when its fields are found woven; closes the check with its verdict once enough
// pictures were seen (or the detector cannot be made).
void LookForWovenFields(WovenFieldCheck& check, AVFrame* picture);
// True while pictures are still looked at.
bool WovenFieldCheckOpen(const WovenFieldCheck& check);
void ReleaseWovenFieldCheck(WovenFieldCheck& check);

} // namespace mobivert::engine
