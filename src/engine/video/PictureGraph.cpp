#include "engine/video/PictureGraph.h"

#include "binding/AVFilterHlpr.h"
#include "binding/AVLibs.h"
#include "binding/AVUtilHlpr.h"
#include "engine/transcode/TranscodeSteps.h"

namespace mobivert::engine {

namespace {

bool LinkFilters(AVFilterGraph* graph, const std::string& filters, const PictureGraphEnds& ends) {
    AVFilterInOut* outputs = av::avfilter_inout_alloc();
    AVFilterInOut* inputs = av::avfilter_inout_alloc();
    bool linked = outputs && inputs;
    if (linked) {
        outputs->name = av::av_strdup("in");
        outputs->filter_ctx = ends.Source;
        inputs->name = av::av_strdup("out");
        inputs->filter_ctx = ends.Sink;
        linked =
            outputs->name && inputs->name &&
            av::avfilter_graph_parse_ptr(graph, filters.c_str(), &inputs, &outputs, nullptr) >= 0 &&
            av::avfilter_graph_config(graph, nullptr) >= 0;
    }
    av::avfilter_inout_free(&inputs);
    av::avfilter_inout_free(&outputs);
    return linked;
}

} // namespace

AVFilterGraph* MakePictureGraph(const AVFrame* picture, const std::string& filters,
                                PictureGraphEnds& ends) {
    std::string error;
    if (!binding::LoadAVFilter(error))
        return nullptr;
    AVFilterGraph* graph = av::avfilter_graph_alloc();
    if (!graph)
        return nullptr;
    AVRational aspect = picture->sample_aspect_ratio;
    if (aspect.num <= 0 || aspect.den <= 0)
        aspect = {0, 1};
    std::string args =
        Format("video_size=%dx%d:pix_fmt=%d:time_base=1/1000000:pixel_aspect=%d/%d", picture->width,
               picture->height, picture->format, aspect.num, aspect.den);
    ends = {};
    const bool made =
        av::avfilter_graph_create_filter(&ends.Source, av::avfilter_get_by_name("buffer"), "src",
                                         args.c_str(), nullptr, graph) >= 0 &&
        av::avfilter_graph_create_filter(&ends.Sink, av::avfilter_get_by_name("buffersink"), "out",
                                         nullptr, nullptr, graph) >= 0 &&
        LinkFilters(graph, filters, ends);
    if (!made) {
        av::avfilter_graph_free(&graph);
        ends = {};
    }
    return graph;
}

} // namespace mobivert::engine
