// What happens to every decoded picture before the filters and the encoders see it: the working
// copy, deinterlacing, and the frame hooks that act on the working copy.

#include "binding/AVFilterHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/transcode/TranscodeSteps.h"

#include <algorithm>

namespace mobivert::engine {

namespace {

// Line sizes of the working picture are kept aligned for the scaler's and encoders' SIMD code.
constexpr int kWorkingAlign = 32;

bool SameGeometry(const InputStream& ist, const AVFrame* picture) {
    return ist.DeinterlaceWidth == picture->width && ist.DeinterlaceHeight == picture->height &&
           ist.DeinterlaceFormat == picture->format;
}

// The stream's deinterlacer: buffer source -> yadif -> buffer sink, made again when the
// pictures change size or format.
bool PrepareDeinterlacer(InputStream& ist, const AVFrame* picture) {
    if (ist.DeinterlaceGraph && SameGeometry(ist, picture))
        return true;
    std::string error;
    if (!binding::LoadAVFilter(error))
        return false;
    av::avfilter_graph_free(&ist.DeinterlaceGraph);
    ist.DeinterlaceSource = ist.DeinterlaceSink = nullptr;
    ist.DeinterlaceFormat = -1;
    if (!ist.DeinterlacedFrame && !(ist.DeinterlacedFrame = av::av_frame_alloc()))
        return false;
    AVFilterGraph* graph = av::avfilter_graph_alloc();
    if (!graph)
        return false;
    ist.DeinterlaceGraph = graph;
    AVRational aspect = picture->sample_aspect_ratio;
    if (aspect.num <= 0 || aspect.den <= 0)
        aspect = {0, 1};
    std::string args =
        Format("video_size=%dx%d:pix_fmt=%d:time_base=1/1000000:pixel_aspect=%d/%d", picture->width,
               picture->height, picture->format, aspect.num, aspect.den);
    AVFilterContext* yadif = nullptr;
    if (av::avfilter_graph_create_filter(&ist.DeinterlaceSource, av::avfilter_get_by_name("buffer"),
                                         "src", args.c_str(), nullptr, graph) < 0 ||
        av::avfilter_graph_create_filter(&yadif, av::avfilter_get_by_name("yadif"), "yadif",
                                         nullptr, nullptr, graph) < 0 ||
        av::avfilter_graph_create_filter(&ist.DeinterlaceSink,
                                         av::avfilter_get_by_name("buffersink"), "out", nullptr,
                                         nullptr, graph) < 0 ||
        av::avfilter_link(ist.DeinterlaceSource, 0, yadif, 0) < 0 ||
        av::avfilter_link(yadif, 0, ist.DeinterlaceSink, 0) < 0 ||
        av::avfilter_graph_config(graph, nullptr) < 0) {
        av::avfilter_graph_free(&ist.DeinterlaceGraph);
        ist.DeinterlaceSource = ist.DeinterlaceSink = nullptr;
        return false;
    }
    ist.DeinterlaceWidth = picture->width;
    ist.DeinterlaceHeight = picture->height;
    ist.DeinterlaceFormat = picture->format;
    return true;
}

// Hands the picture to the deinterlacer and takes the picture it gives back, if any. yadif in
// its frame mode gives at most one picture for every picture it receives.
bool PushToDeinterlacer(InputStream& ist, AVFrame* picture, bool& got) {
    av::av_frame_unref(ist.DeinterlacedFrame);
    if (av::av_buffersrc_add_frame_flags(ist.DeinterlaceSource, picture,
                                         AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
        return false;
    got = av::av_buffersink_get_frame(ist.DeinterlaceSink, ist.DeinterlacedFrame) >= 0;
    return true;
}

// Deinterlaces the picture into ist.DeinterlacedFrame. yadif looks one picture ahead and
// therefore gives picture n only when picture n + 1 arrives. To keep every picture where it
// belongs, each picture is handed over twice: the first hand-over releases the previous
// picture's copy (not used), the second gives this picture, deinterlaced with the previous
// one and itself as its temporal neighbours.
bool Deinterlace(InputStream& ist, AVFrame* picture) {
    if (!PrepareDeinterlacer(ist, picture))
        return false;
    bool got = false;
    if (!PushToDeinterlacer(ist, picture, got) || !PushToDeinterlacer(ist, picture, got) || !got)
        return false;
    const AVFrame* out = ist.DeinterlacedFrame;
    return out->width == picture->width && out->height == picture->height &&
           out->format == picture->format;
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

} // namespace

void TCustomFFmpeg::BufferRelease::operator()(AVBufferRef* buffer) const {
    av::av_buffer_unref(&buffer);
}

void TCustomFFmpeg::PreprocessVideoFrame(InputStream& ist, AVFrame* picture) {
    // The picture counter and the decision whether the hooks run on this picture. A picture the
    // hooks will see needs the working copy too.
    SelectHookAction(ist.Pts);
    if (!DoDeinterlace && !HookWillRun())
        return;

    // The working copy, in a buffer that grows and is replaced while pictures downstream (a
    // filter or an encoder holding it for reordering) still refer to it.
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

    // Deinterlacing writes into the working copy; when it fails the picture is copied as it
    // is, so that the decoder's own pictures are never written to.
    const AVFrame* source = picture;
    if (DoDeinterlace) {
        if (Deinterlace(ist, picture))
            source = ist.DeinterlacedFrame;
        else
            Log(0, "Deinterlacing failed.");
    }
    av::av_image_copy(data, linesize, const_cast<const uint8_t**>(source->data), source->linesize,
                      format, picture->width, picture->height);

    // The plug-ins or the custom hook work on the working copy.
    RunFrameHooks(data, linesize, picture->format, picture->width, picture->height, ist.Pts);

    if (!AdoptWorkingPicture(picture, HookBuffer.get(), data, linesize))
        Log(0, "hook buf malloc error.");
}

} // namespace mobivert::engine
