// The video filter chain: a graph of the filter library between the decoded pictures of an
// input stream and an encoder, built from the "vfilters" description.

#include "binding/AVFilterHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/transcode/TranscodeSteps.h"

#include <utility>

namespace mobivert::engine {

namespace {

// Labels that join the user's chain to the picture source and to the sink.
constexpr const char* kChainInput = "in";
constexpr const char* kChainOutput = "out";

// An open end of the graph for the parser: label, filter and pad.
AVFilterInOut* OpenEnd(const char* label, AVFilterContext* filter) {
    AVFilterInOut* end = av::avfilter_inout_alloc();
    if (!end)
        return nullptr;
    end->name = av::av_strdup(label);
    end->filter_ctx = filter;
    end->pad_idx = 0;
    end->next = nullptr;
    if (!end->name)
        av::avfilter_inout_free(&end);
    return end;
}

bool ParseUserChain(AVFilterGraph* graph, const std::string& description, AVFilterContext* last,
                    AVFilterContext* sink) {
    AVFilterInOut* outputs = OpenEnd(kChainInput, last);
    AVFilterInOut* inputs = OpenEnd(kChainOutput, sink);
    int ret = -1;
    if (outputs && inputs)
        ret = av::avfilter_graph_parse_ptr(graph, description.c_str(), &inputs, &outputs, nullptr);
    av::avfilter_inout_free(&inputs);
    av::avfilter_inout_free(&outputs);
    return ret >= 0;
}

// The sink takes only the encoder's pixel format; the graph converts to it.
AVFilterContext* CreateSink(AVFilterGraph* graph, AVPixelFormat format) {
    AVFilterContext* sink =
        av::avfilter_graph_alloc_filter(graph, av::avfilter_get_by_name("buffersink"), "out");
    if (!sink)
        return nullptr;
    if (format != AV_PIX_FMT_NONE &&
        av::av_opt_set_bin(sink, "pix_fmts", reinterpret_cast<const uint8_t*>(&format),
                           sizeof format, AV_OPT_SEARCH_CHILDREN) < 0)
        return nullptr;
    if (av::avfilter_init_str(sink, nullptr) < 0)
        return nullptr;
    return sink;
}

} // namespace

bool TCustomFFmpeg::BuildFilterGraph(InputStream& ist, OutputStream& ost) {
    if (FrameTopBand + FrameBottomBand + FrameLeftBand + FrameRightBand != 0) {
        SetupError = "Cannot enable crop options and filters at the same time.";
        return false;
    }
    AVCodecContext* enc = ost.Enc;
    const AVCodecParameters* par = ist.St->codecpar;
    int width = ist.Dec ? ist.Dec->width : par->width;
    int height = ist.Dec ? ist.Dec->height : par->height;
    int format = ist.Dec && ist.Dec->pix_fmt != AV_PIX_FMT_NONE ? ist.Dec->pix_fmt : par->format;
    AVRational aspect = ist.Dec ? ist.Dec->sample_aspect_ratio : par->sample_aspect_ratio;
    if (aspect.num <= 0 || aspect.den <= 0)
        aspect = {0, 1};
    // Pictures turned upright enter the chain with their sides swapped.
    if (TurnsSideways(ist.Turn)) {
        std::swap(width, height);
        std::swap(aspect.num, aspect.den);
    }
    if (width <= 0 || height <= 0 || format == AV_PIX_FMT_NONE)
        return false;

    if (!binding::LoadAVFilter(SetupError))
        return false;
    // One graph per input stream; a later output of the same stream replaces it.
    av::avfilter_graph_free(&ist.FilterGraph);
    ist.InputVideoFilter = ist.OutVideoFilter = nullptr;
    AVFilterGraph* graph = av::avfilter_graph_alloc();
    if (!graph)
        return false;
    ist.FilterGraph = graph;

    // Pictures enter with their timestamps in microseconds.
    std::string args = Format("video_size=%dx%d:pix_fmt=%d:time_base=1/1000000:pixel_aspect=%d/%d",
                              width, height, format, aspect.num, aspect.den);
    if (av::avfilter_graph_create_filter(&ist.InputVideoFilter, av::avfilter_get_by_name("buffer"),
                                         "src", args.c_str(), nullptr, graph) < 0)
        return false;
    ist.OutVideoFilter = CreateSink(graph, enc->pix_fmt);
    if (!ist.OutVideoFilter)
        return false;

    AVFilterContext* last = ist.InputVideoFilter;
    int padWidth = FramePadLeft + FramePadRight;
    int padHeight = FramePadTop + FramePadBottom;
    if (width + padWidth != enc->width || height + padHeight != enc->height) {
        std::string size = Format("%d:%d", enc->width - padWidth, enc->height - padHeight);
        AVFilterContext* scale = nullptr;
        if (av::avfilter_graph_create_filter(&scale, av::avfilter_get_by_name("scale"), nullptr,
                                             size.c_str(), nullptr, graph) < 0 ||
            av::avfilter_link(last, 0, scale, 0) < 0)
            return false;
        last = scale;
    }
    if (!VideoFilters.empty()) {
        if (!ParseUserChain(graph, VideoFilters, last, ist.OutVideoFilter))
            return false;
    } else if (av::avfilter_link(last, 0, ist.OutVideoFilter, 0) < 0) {
        return false;
    }
    if (av::avfilter_graph_config(graph, nullptr) < 0)
        return false;

    int chainWidth = av::av_buffersink_get_w(ist.OutVideoFilter);
    int chainHeight = av::av_buffersink_get_h(ist.OutVideoFilter);
    if (padWidth + padHeight != 0 && (chainWidth != FrameWidth || chainHeight != FrameHeight)) {
        SetupError = "Cannot enable pad options and the filters which resize frame at the same "
                     "time. (crop, rotate, scale, transpose, etc.)";
        return false;
    }
    enc->width = chainWidth + padWidth;
    enc->height = chainHeight + padHeight;
    return true;
}

void FilterVideoFrame(TCustomFFmpeg& s, TranscodeTables& t, InputStream& ist, int istIndex,
                      AVFrame* picture) {
    if (!ist.InputVideoFilter || !ist.OutVideoFilter) {
        if (picture)
            FeedVideoOutputs(s, t, ist, istIndex, picture);
        return;
    }
    if (!ist.FilterFrame && !(ist.FilterFrame = av::av_frame_alloc()))
        throw FFMpegException("av_mallocz fail");
    if (!ist.PicRef && !(ist.PicRef = av::av_frame_alloc()))
        throw FFMpegException("av_mallocz fail");

    if (picture) {
        if (av::av_frame_ref(ist.FilterFrame, picture) < 0)
            throw FFMpegException("av_mallocz fail");
        ist.FilterFrame->pts = ist.Pts;
        ist.HasFilterFrame = 1;
        // The source takes the reference; a picture it refuses is skipped.
        int ret = av::av_buffersrc_add_frame_flags(ist.InputVideoFilter, ist.FilterFrame, 0);
        av::av_frame_unref(ist.FilterFrame);
        ist.HasFilterFrame = 0;
        if (ret < 0) {
            s.Log(0, Format("Error while filtering stream #%d.%d", ist.FileIndex, ist.Index));
            return;
        }
    } else if (av::av_buffersrc_add_frame_flags(ist.InputVideoFilter, nullptr, 0) < 0) {
        return;
    }

    // Every picture the chain has ready goes to the outputs, stamped with its own time.
    AVRational timeBase = av::av_buffersink_get_time_base(ist.OutVideoFilter);
    while (av::av_buffersink_get_frame(ist.OutVideoFilter, ist.PicRef) >= 0) {
        if (ist.PicRef->pts != NoPts)
            ist.Pts = av::av_rescale_q(ist.PicRef->pts, timeBase, MicrosecondBase);
        FeedVideoOutputs(s, t, ist, istIndex, ist.PicRef);
        av::av_frame_unref(ist.PicRef);
    }
}

} // namespace mobivert::engine
