#include "engine/video/WovenFieldCheck.h"

#include "binding/AVFilterHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "engine/video/PictureGraph.h"

namespace mobivert::engine {

namespace {

// Half a second at 25 pictures a second: the detector's view settles after a few pictures.
constexpr int32_t kPicturesLooked = 12;
// Fewer judgements than this give no verdict (a stream of a few pictures stays as it is).
constexpr int32_t kJudgementsNeeded = 8;

void Close(WovenFieldCheck& check) {
    check.Woven = check.Judgements >= kJudgementsNeeded && check.Interlaced * 2 > check.Judgements;
    check.WovenTopFirst = check.TopFirst * 2 >= check.Interlaced;
    check.PicturesLeft = 0;
    ReleaseWovenFieldCheck(check);
}

// The detector gives picture n when picture n + 1 arrives, flagged with what it found. Each
// picture is handed over twice, so that the second hand-over gives its own judgement (the
// detector tells fields apart within one picture; the copy only adds to its history).
bool Judge(WovenFieldCheck& check, AVFrame* picture, bool& got) {
    got = false;
    for (int pass = 0; pass < 2; ++pass) {
        if (av::av_buffersrc_add_frame_flags(check.Source, picture, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
            return false;
        while (true) {
            av::av_frame_unref(check.Judged);
            if (av::av_buffersink_get_frame(check.Sink, check.Judged) < 0)
                break;
            got = pass == 1;
            if (got)
                break;
        }
    }
    return true;
}

} // namespace

WovenFieldCheck::WovenFieldCheck() : PicturesLeft(kPicturesLooked) {}

bool WovenFieldCheckOpen(const WovenFieldCheck& check) {
    return check.PicturesLeft > 0;
}

void LookForWovenFields(WovenFieldCheck& check, AVFrame* picture) {
    if (!WovenFieldCheckOpen(check))
        return;
    if (!check.Graph) {
        PictureGraphEnds ends;
        check.Graph = MakePictureGraph(picture, "idet", ends);
        check.Source = ends.Source;
        check.Sink = ends.Sink;
        if (!check.Judged)
            check.Judged = av::av_frame_alloc();
        if (!check.Graph || !check.Judged)
            return Close(check);
    }
    bool got = false;
    if (!Judge(check, picture, got))
        return Close(check);
    if (got) {
        ++check.Judgements;
        if (check.Judged->interlaced_frame) {
            ++check.Interlaced;
            check.TopFirst += check.Judged->top_field_first != 0;
            picture->interlaced_frame = 1;
            picture->top_field_first = check.Judged->top_field_first;
        }
        av::av_frame_unref(check.Judged);
    }
    if (--check.PicturesLeft == 0)
        Close(check);
}

void ReleaseWovenFieldCheck(WovenFieldCheck& check) {
    if (check.Graph)
        av::avfilter_graph_free(&check.Graph);
    check.Source = check.Sink = nullptr;
    av::av_frame_free(&check.Judged);
}

} // namespace mobivert::engine
