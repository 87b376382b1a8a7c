// What happens to every decoded picture before the filters and the encoders see it: shaping
// (deinterlacing, turning upright), and the frame hooks that act on a working copy.

#include "binding/AVFilterHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/transcode/TranscodeSteps.h"
#include "engine/video/PictureGraph.h"
#include "engine/video/ToneMapping.h"

#include <algorithm>

namespace mobivert::engine {

namespace {

// Line sizes of the working picture are kept aligned for the scaler's and encoders' SIMD code.
constexpr int kWorkingAlign = 32;

bool SameShape(const InputStream& ist, const AVFrame* picture, const std::string& filters) {
    return ist.ShapeWidth == picture->width && ist.ShapeHeight == picture->height &&
           ist.ShapeFormat == picture->format && ist.ShapeFilters == filters;
}

bool IsInterlacedOrder(AVFieldOrder order) {
    return order == AV_FIELD_TT || order == AV_FIELD_BB || order == AV_FIELD_TB ||
           order == AV_FIELD_BT;
}

bool FlaggedInterlaced(const InputStream& ist, const AVFrame* picture) {
    return picture->interlaced_frame || IsInterlacedOrder(ist.St->codecpar->field_order);
}

// The filters that shape the stream's pictures: a deinterlacer when asked for, or when the
// source is interlaced and its outputs are progressive (then only pictures flagged interlaced
// are touched, or every picture when its fields were found woven without a flag), HDR tones
// mapped to SDR, and the turn that shows the picture upright.
std::string ShapeFilters(const TCustomFFmpeg& s, const InputStream& ist, const AVFrame* picture) {
    std::string filters;
    if (s.DoDeinterlace)
        filters = "yadif";
    else if (ist.DeinterlaceWhenInterlaced && ist.FieldCheck.Woven)
        filters = ist.FieldCheck.WovenTopFirst ? "yadif=parity=tff" : "yadif=parity=bff";
    else if (ist.DeinterlaceWhenInterlaced &&
             (FlaggedInterlaced(ist, picture) ||
              ist.ShapeFilters.rfind("yadif=deint=interlaced", 0) == 0))
        filters = "yadif=deint=interlaced";
    if (ist.MapTones) {
        const std::string tones = ToneMapFilters(
            ist.St->codecpar, av::av_get_pix_fmt_name(static_cast<AVPixelFormat>(picture->format)));
        if (!tones.empty())
            filters += (filters.empty() ? "" : ",") + tones;
    }
    const std::string turn = TurnFilters(ist.Turn);
    if (!turn.empty())
        filters += (filters.empty() ? "" : ",") + turn;
    return filters;
}

void FreeShapeGraph(InputStream& ist) {
    if (ist.ShapeGraph)
        av::avfilter_graph_free(&ist.ShapeGraph);
    ist.ShapeSource = ist.ShapeSink = nullptr;
    ist.ShapeFilters.clear();
    ist.ShapeFormat = -1;
}

// The stream's shaping graph, made again when the pictures change size or format or the
// filters change.
bool PrepareShapeGraph(InputStream& ist, const AVFrame* picture, const std::string& filters) {
    if (ist.ShapeGraph && SameShape(ist, picture, filters))
        return true;
    FreeShapeGraph(ist);
    if (!ist.ShapedFrame && !(ist.ShapedFrame = av::av_frame_alloc()))
        return false;
    PictureGraphEnds ends;
    ist.ShapeGraph = MakePictureGraph(picture, filters, ends);
    if (!ist.ShapeGraph)
        return false;
    ist.ShapeSource = ends.Source;
    ist.ShapeSink = ends.Sink;
    ist.ShapeWidth = picture->width;
    ist.ShapeHeight = picture->height;
    ist.ShapeFormat = picture->format;
    ist.ShapeFilters = filters;
    return true;
}

// Hands the picture to the graph and takes the picture it gives back, if any.
bool PushToShapeGraph(InputStream& ist, AVFrame* picture, bool& got) {
    av::av_frame_unref(ist.ShapedFrame);
    if (av::av_buffersrc_add_frame_flags(ist.ShapeSource, picture, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
        return false;
    got = av::av_buffersink_get_frame(ist.ShapeSink, ist.ShapedFrame) >= 0;
    return true;
}

// Shapes the picture into ist.ShapedFrame. yadif looks one picture ahead and therefore gives
// picture n only when picture n + 1 arrives. To keep every picture where it belongs, each
// picture is handed over twice: the first hand-over releases the previous picture's copy (not
// used), the second gives this picture, deinterlaced with the previous one and itself as its
// temporal neighbours. The turn alone gives every picture at once.
bool Shape(InputStream& ist, AVFrame* picture, const std::string& filters) {
    if (!PrepareShapeGraph(ist, picture, filters))
        return false;
    const bool deinterlacing = filters.rfind("yadif", 0) == 0;
    bool got = false;
    if (!PushToShapeGraph(ist, picture, got) ||
        (deinterlacing && !PushToShapeGraph(ist, picture, got)) || !got)
        return false;
    const AVFrame* out = ist.ShapedFrame;
    return out->format == picture->format && out->width > 0 && out->height > 0;
}

// The picture becomes the shaped one, keeping its own times.
void TakeShapedPicture(InputStream& ist, AVFrame* picture) {
    const int64_t pts = picture->pts;
    const int64_t dts = picture->pkt_dts;
    const int64_t bestEffort = picture->best_effort_timestamp;
    const int64_t duration = picture->pkt_duration;
    av::av_frame_unref(picture);
    av::av_frame_move_ref(picture, ist.ShapedFrame);
    picture->pts = pts;
    picture->pkt_dts = dts;
    picture->best_effort_timestamp = bestEffort;
    picture->pkt_duration = duration;
    av::av_frame_remove_side_data(picture, AV_FRAME_DATA_DISPLAYMATRIX);
}

// The picture's planes become those of the working picture, which the picture now holds a
// reference to, so that everything downstream sees the processed image.
bool AdoptWorkingPicture(AVFrame* picture, AVBufferRef* buffer, uint8_t* const data[4],
                         const int linesize[4]) {
    AVBufferRef* reference = av::av_buffer_ref(buffer);
    if (!reference)
        return false;
    for (AVBufferRef*& held : picture->buf)
        av::av_buffer_unref(&held);
    picture->buf[0] = reference;
    for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i) {
        picture->data[i] = i < 4 ? data[i] : nullptr;
        picture->linesize[i] = i < 4 ? linesize[i] : 0;
    }
    picture->extended_data = picture->data;
    return true;
}

// While the outputs want progressive pictures and nothing flags the source interlaced, its
// first pictures are looked at for fields woven together: those found so are flagged (and so
// deinterlaced), and a verdict of woven fields deinterlaces every picture after them.
void LookForUnflaggedFields(TCustomFFmpeg& s, InputStream& ist, AVFrame* picture) {
    if (s.DoDeinterlace || !ist.DeinterlaceWhenInterlaced || FlaggedInterlaced(ist, picture) ||
        !WovenFieldCheckOpen(ist.FieldCheck))
        return;
    LookForWovenFields(ist.FieldCheck, picture);
    if (ist.FieldCheck.Woven && s.Verbose >= 0 && s.OnLog)
        s.Log(1, Format("Video stream #%d.%d holds interlaced pictures not flagged as such",
                        ist.FileIndex, ist.Index));
}

} // namespace

void TCustomFFmpeg::BufferRelease::operator()(AVBufferRef* buffer) const {
    av::av_buffer_unref(&buffer);
}

void TCustomFFmpeg::PreprocessVideoFrame(InputStream& ist, AVFrame* picture) {
    // The picture counter and the decision whether the hooks run on this picture.
    SelectHookAction(ist.Pts);
    LookForUnflaggedFields(*this, ist, picture);
    const std::string filters = ShapeFilters(*this, ist, picture);
    if (!filters.empty()) {
        if (Shape(ist, picture, filters)) {
            if (ist.ShapeLogged != filters && Verbose >= 0 && OnLog)
                Log(1, Format("Video stream #%d.%d is shaped before scaling: %s", ist.FileIndex,
                              ist.Index, filters.c_str()));
            ist.ShapeLogged = filters;
            TakeShapedPicture(ist, picture);
        } else {
            Log(0, DoDeinterlace ? "Deinterlacing failed." : "Shaping the picture failed.");
        }
    }
    if (!HookWillRun())
        return;

    // The working copy the hooks act on, in a buffer that grows and is replaced while pictures
    // downstream (a filter or an encoder holding it for reordering) still refer to it.
    AVPixelFormat format = static_cast<AVPixelFormat>(picture->format);
    int size = av::av_image_get_buffer_size(format, picture->width, picture->height, kWorkingAlign);
    if (size > 0 &&
        (!HookBuffer || HookBufferSize < size || !av::av_buffer_is_writable(HookBuffer.get()))) {
        int grown = std::max(size, HookBufferSize);
        HookBuffer.reset(av::av_buffer_alloc(static_cast<size_t>(grown)));
        HookBufferSize = HookBuffer ? grown : 0;
    }
    if (size <= 0 || !HookBuffer) {
        Log(0, "hook buf malloc error.");
        return;
    }
    uint8_t* data[4] = {};
    int linesize[4] = {};
    if (av::av_image_fill_arrays(data, linesize, HookBuffer->data, format, picture->width,
                                 picture->height, kWorkingAlign) < 0) {
        Log(0, "hook buf malloc error.");
        return;
    }
    // The decoder's own pictures are never written to: the hooks work on a copy.
    av::av_image_copy(data, linesize, const_cast<const uint8_t**>(picture->data), picture->linesize,
                      format, picture->width, picture->height);

    // The plug-ins or the custom hook work on the working copy.
    RunFrameHooks(data, linesize, picture->format, picture->width, picture->height, ist.Pts);

    if (!AdoptWorkingPicture(picture, HookBuffer.get(), data, linesize))
        Log(0, "hook buf malloc error.");
}

} // namespace mobivert::engine
