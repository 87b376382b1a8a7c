#pragma once
// A filter graph that takes single pictures of one geometry: buffer source -> filters -> buffer
// sink, with times in microseconds.

#include <string>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/frame.h>
}

namespace mobivert::engine {

struct PictureGraphEnds {
    AVFilterContext* Source = nullptr;
    AVFilterContext* Sink = nullptr;
};

// A configured graph for pictures shaped like the given one, or nullptr (libavfilter missing,
// filters that do not parse or do not take such pictures). The caller owns the graph.
AVFilterGraph* MakePictureGraph(const AVFrame* picture, const std::string& filters,
                                PictureGraphEnds& ends);

} // namespace mobivert::engine
