#include "engine/video/PictureRescaler.h"

#include "binding/AVUtilHlpr.h"
#include "binding/SwScaleHlpr.h"

namespace mobivert::engine {

namespace {

// The fields of a picture the video output path sets for the encoder; every other field of
// the rescaled picture keeps its default, as on the conversion's thread.
void CopyEncoderFields(AVFrame* to, const AVFrame* from) {
    to->pts = from->pts;
    to->interlaced_frame = from->interlaced_frame;
    to->top_field_first = from->top_field_first;
    to->quality = from->quality;
    to->pict_type = from->pict_type;
}

} // namespace

PictureRescaler::~PictureRescaler() {
    av::sws_freeContext(context_);
}

AVFrame* PictureRescaler::Rescale(const AVFrame* picture, int width, int height,
                                  AVPixelFormat format, std::string& failure) {
    AVFrame* rescaled = av::av_frame_alloc();
    if (rescaled) {
        rescaled->format = format;
        rescaled->width = width;
        rescaled->height = height;
    }
    if (!rescaled || av::av_frame_get_buffer(rescaled, 0) < 0) {
        av::av_frame_free(&rescaled);
        failure = "Cannot allocate temp picture, check pix fmt";
        return nullptr;
    }
    const auto source = static_cast<AVPixelFormat>(picture->format);
    context_ = av::sws_getCachedContext(context_, picture->width, picture->height, source, width,
                                        height, format, flags_, nullptr, nullptr, nullptr);
    if (!context_) {
        av::av_frame_free(&rescaled);
        failure = "Cannot get resampling context";
        return nullptr;
    }
    av::sws_scale(context_, picture->data, picture->linesize, 0, picture->height, rescaled->data,
                  rescaled->linesize);
    CopyEncoderFields(rescaled, picture);
    return rescaled;
}

} // namespace mobivert::engine
