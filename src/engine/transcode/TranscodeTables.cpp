#include "engine/transcode/TranscodeTables.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "binding/SwScaleHlpr.h"

namespace mobivert::engine {

namespace {

void Release(InputStream& ist) {
    ist.Groups.reset();
    av::av_frame_free(&ist.DecodedFrame);
    av::av_frame_free(&ist.FilterFrame);
    av::av_frame_free(&ist.PicRef);
    av::swr_free(&ist.PackedConverter);
    // A graph exists only when libavfilter was loaded for it.
    if (ist.FilterGraph)
        av::avfilter_graph_free(&ist.FilterGraph);
    if (ist.ShapeGraph)
        av::avfilter_graph_free(&ist.ShapeGraph);
    av::av_frame_free(&ist.ShapedFrame);
    av::av_frame_free(&ist.LonePicture);
    ReleaseWovenFieldCheck(ist.FieldCheck);
}

void Release(OutputStream& ost) {
    if (ost.LogFile)
        fclose(ost.LogFile);
    ost.LogFile = nullptr;
    if (ost.Fifo)
        av::av_fifo_freep2(&ost.Fifo);
    if (ost.SampleFifo)
        av::av_audio_fifo_free(ost.SampleFifo);
    ost.SampleFifo = nullptr;
    av::av_frame_free(&ost.PictTmp);
    av::sws_freeContext(ost.ImgResampleCtx);
    ost.ImgResampleCtx = nullptr;
    av::swr_free(&ost.Resample);
    av::av_bsf_free(&ost.BitstreamFilter);
    av::av_frame_free(&ost.EncoderFrame);
    av::av_frame_free(&ost.HardwarePicture);
    av::av_buffer_unref(&ost.HardwareFrames);
}

} // namespace

TranscodeTables::~TranscodeTables() {
    for (auto& ist : InputStreams)
        Release(*ist);
    for (auto& ost : OutputStreams)
        Release(*ost);
    av::av_packet_free(&CopyPacket);
    av::av_packet_free(&FilterInput);
}

} // namespace mobivert::engine
