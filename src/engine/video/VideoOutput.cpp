// The video output path: the frame-rate rule, the picture geometry (crop, rescale, pad) and the
// encoding of every output picture.

#include "engine/video/VideoOutput.h"

#include "binding/AVCodecHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "engine/session/FFMpegException.h"
#include "engine/transcode/TranscodeSteps.h"
#include "engine/video/PicturePadding.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace mobivert::engine {

namespace {

// Output positions stay far inside the 64-bit range, whatever the input claims.
constexpr double kPositionLimit = 4e18;

int64_t RoundPosition(double value) {
    return static_cast<int64_t>(std::nearbyint(std::clamp(value, -kPositionLimit, kPositionLimit)));
}

PicturePlanes PlanesOf(const AVFrame* frame) {
    PicturePlanes planes;
    for (int i = 0; i < 4; ++i) {
        planes.Data[i] = frame->data[i];
        planes.Linesize[i] = frame->linesize[i];
    }
    return planes;
}

// A crop or pad step that cannot be done: with ExitOnError the run stops, otherwise the
// picture is not written.
bool GeometryFailed(TCustomFFmpeg& s, const char* message) {
    if (s.ExitOnError)
        throw FFMpegException(message);
    s.Log(0, message);
    return false;
}

// The scratch picture at the encoder's size and format, with a buffer nobody else holds: the
// encoder may still keep the previous picture written from it (for reordering or look-ahead).
void PrepareScratchPicture(OutputStream& ost) {
    const AVCodecContext* enc = ost.Enc;
    AVFrame*& scratch = ost.PictTmp;
    if (scratch && scratch->buf[0] && scratch->width == enc->width &&
        scratch->height == enc->height && scratch->format == PictureFormat(ost) &&
        av::av_frame_is_writable(scratch))
        return;
    if (!scratch && !(scratch = av::av_frame_alloc()))
        throw FFMpegException("Cannot allocate temp picture, check pix fmt");
    av::av_frame_unref(scratch);
    scratch->format = PictureFormat(ost);
    scratch->width = enc->width;
    scratch->height = enc->height;
    if (av::av_frame_get_buffer(scratch, 0) < 0)
        throw FFMpegException("Cannot allocate temp picture, check pix fmt");
}

// The picture handed to the encoder: its planes, the frame whose buffers hold them, and its
// size and format (the encoder's, unless the encoder's thread rescales it).
struct FinalPicture {
    const AVFrame* Owner = nullptr;
    PicturePlanes Planes;
    int Width = 0;
    int Height = 0;
    AVPixelFormat Format = AV_PIX_FMT_NONE;
};

// Whether the stream's encoder rescales on its own thread the pictures that need it.
bool RescalesOnEncoderThread(const OutputStream& ost) {
    return ost.Pipe && ost.Pipe->Rescales();
}

// Crops, rescales and pads the picture as the stream needs. The result is either a view into
// the picture itself or the scratch picture. A picture that needs only rescaling stays a view
// when the encoder's thread rescales it.
bool MakeFinalPicture(TCustomFFmpeg& s, OutputStream& ost, const AVFrame* picture,
                      FinalPicture& final) {
    const AVCodecContext* enc = ost.Enc;
    AVPixelFormat format = static_cast<AVPixelFormat>(picture->format);
    PicturePlanes formatted = PlanesOf(picture);
    int width = picture->width;
    int height = picture->height;
    // With filters the chain does any cropping.
    if (!s.FiltersEnabled && ost.VideoCrop) {
        width -= s.FrameLeftBand + s.FrameRightBand;
        height -= s.FrameTopBand + s.FrameBottomBand;
        PicturePlanes view;
        if (width <= 0 || height <= 0 ||
            CropPicture(view, formatted, format, ost.TopBand, ost.LeftBand) < 0)
            return GeometryFailed(s, "error cropping picture");
        formatted = view;
    }

    bool pad = ost.VideoPad != 0;
    int innerWidth = enc->width - (pad ? ost.PadLeft + ost.PadRight : 0);
    int innerHeight = enc->height - (pad ? ost.PadTop + ost.PadBottom : 0);
    // A picture that does not fit the space inside the borders is rescaled, also when its
    // size or format changed after the set-up or came out of the filter chain that way.
    bool rescale = width != innerWidth || height != innerHeight || format != PictureFormat(ost);
    final = {picture, formatted, enc->width, enc->height, PictureFormat(ost)};
    if (!pad && !rescale)
        return true;
    if (!pad && RescalesOnEncoderThread(ost)) {
        final.Width = width;
        final.Height = height;
        final.Format = format;
        return true;
    }
    if (innerWidth <= 0 || innerHeight <= 0)
        return GeometryFailed(s, "error padding picture");

    PrepareScratchPicture(ost);
    PicturePlanes whole = PlanesOf(ost.PictTmp);
    PicturePlanes target = whole;
    if (pad && CropPicture(target, whole, PictureFormat(ost), ost.PadTop, ost.PadLeft) < 0)
        return GeometryFailed(s, "error padding picture");
    if (rescale) {
        ost.ImgResampleCtx = av::sws_getCachedContext(ost.ImgResampleCtx, width, height, format,
                                                      innerWidth, innerHeight, PictureFormat(ost),
                                                      s.SwsFlags, nullptr, nullptr, nullptr);
        if (!ost.ImgResampleCtx)
            throw FFMpegException("Cannot get resampling context");
        av::sws_scale(ost.ImgResampleCtx, formatted.Data.data(), formatted.Linesize.data(), 0,
                      height, target.Data.data(), target.Linesize.data());
    }
    if (pad && PadPicture(whole, rescale ? nullptr : &formatted, enc->height, enc->width,
                          PictureFormat(ost), ost.PadTop, ost.PadBottom, ost.PadLeft, ost.PadRight,
                          s.PadColor) < 0)
        return GeometryFailed(s, "error padding picture");
    final.Owner = ost.PictTmp;
    final.Planes = whole;
    return true;
}

// The frame handed to the encoder: the final picture's planes, held through its owner's
// buffers, at its size and format; every other field starts from its default.
void ReferencePlanes(AVFrame* frame, const FinalPicture& final) {
    av::av_frame_unref(frame);
    for (int i = 0; i < AV_NUM_DATA_POINTERS; ++i)
        if (final.Owner->buf[i] && !(frame->buf[i] = av::av_buffer_ref(final.Owner->buf[i])))
            throw FFMpegException("av_mallocz fail");
    for (int i = 0; i < 4; ++i) {
        frame->data[i] = final.Planes.Data[i];
        frame->linesize[i] = final.Planes.Linesize[i];
    }
    frame->format = final.Format;
    frame->width = final.Width;
    frame->height = final.Height;
}

} // namespace

VideoSyncDecision DecideVideoSync(int method, AVRational encoderTimeBase, double seconds,
                                  int64_t syncOpts) {
    VideoSyncDecision decision;
    decision.SyncOpts = syncOpts;
    double base = av_q2d(encoderTimeBase);
    if (!(base > 0.0))
        return decision;
    double position = seconds / base;
    if (method > 0 || (method != 0 && base > 0.001)) {
        double lag = position - static_cast<double>(syncOpts);
        if (lag < -1.1)
            decision.Repeat = 0;
        else if (method == 2)
            decision.SyncOpts = std::max(RoundPosition(position), syncOpts);
        else if (lag > 1.1)
            decision.Repeat = static_cast<int>(std::min<int64_t>(RoundPosition(lag), INT_MAX));
    } else if (method == 0 && RoundPosition(position) < syncOpts) {
        // Without sync a picture keeps its own time: one that falls on a position already
        // written is dropped, where pushing it on would stretch the video.
        decision.Repeat = 0;
    } else {
        decision.SyncOpts = std::max(RoundPosition(position), syncOpts);
    }
    return decision;
}

void TCustomFFmpeg::OutputVideoFrame(AVFormatContext* os, OutputStream& ost, InputStream& ist,
                                     AVFrame* picture, int& frameSize) {
    frameSize = 0;
    AVCodecContext* enc = ost.Enc;
    const InputStream& sync = ost.SyncIst ? *ost.SyncIst : ist;
    double seconds = static_cast<double>(sync.Pts - StartTime) / 1000000.0;
    VideoSyncDecision decision =
        DecideVideoSync(VideoSyncMethod, enc->time_base, seconds, ost.SyncOpts);
    ost.SyncOpts = decision.SyncOpts;
    decision.Repeat = static_cast<int>(CapPictureRepeats(*this, ost, decision.Repeat));
    if (decision.Repeat == 0) {
        ++FramesDrop;
        if (Verbose > 2)
            Log(1, "*** drop!");
    } else if (decision.Repeat > 1) {
        FramesDup += decision.Repeat - 1;
        if (Verbose > 2)
            Log(1, Format("*** %d dup!", decision.Repeat - 1));
    }
    int64_t repeat =
        std::min<int64_t>(decision.Repeat, static_cast<int64_t>(MaxFrames[0]) - ost.FrameNumber);
    if (repeat <= 0)
        return;

    FinalPicture final;
    if (!MakeFinalPicture(*this, ost, picture, final))
        return;
    AVFrame* frame = ost.EncoderFrame;
    ReferencePlanes(frame, final);
    frame->interlaced_frame = picture->interlaced_frame;
    const AVCodecContext* options = CodecOptContexts[AVMEDIA_TYPE_VIDEO];
    if (options && (options->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME)))
        frame->top_field_first = TopFieldFirst != -1 ? TopFieldFirst : picture->top_field_first;
    frame->quality = SameQuality ? static_cast<int>(std::lrint(ist.Quality)) : enc->global_quality;
    frame->pict_type = MeThreshold == 0 ? AV_PICTURE_TYPE_NONE : picture->pict_type;

    for (int64_t i = 0; i < repeat; ++i) {
        // A long run of repeated pictures stays pausable, stoppable and reported.
        if (i > 0) {
            PausePoint();
            if (Tables)
                ReportProgressIfDue(*this, *Tables);
        }
        if (StopRequested)
            break;
        if (Tables)
            StopIfRunaway(*Tables, static_cast<double>(ost.SyncOpts) * av_q2d(enc->time_base));
        frame->pts = ost.SyncOpts;
        int written = EncodeFrame(os, ost, frame);
        if (written > 0)
            frameSize = written;
        ost.SyncOpts += 1;
        ost.FrameNumber += 1;
    }
    av::av_frame_unref(frame);
}

} // namespace mobivert::engine
