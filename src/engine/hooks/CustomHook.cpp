// The custom frame hook: the working picture goes to the application as a 24-bit RGB bitmap
// and, when the application asks for it, comes back with its drawing.

#include "binding/AVUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "engine/session/FFmpeg.h"

#include <algorithm>
#include <cstring>

namespace mobivert::engine {

namespace {

constexpr int kRgbAlign = 32;

class CanvasLock {
public:
    explicit CanvasLock(TCanvas& canvas) : canvas_(canvas) { canvas_.Lock(); }
    ~CanvasLock() { canvas_.Unlock(); }
    CanvasLock(const CanvasLock&) = delete;
    CanvasLock& operator=(const CanvasLock&) = delete;

private:
    TCanvas& canvas_;
};

} // namespace

void TCustomFFmpeg::RunCustomHook(uint8_t* data[4], int linesize[4], int pixelFormat, int width,
                                  int height, int64_t pts) {
    // Pictures may change size within a stream; the bitmap follows them.
    if (!HookBitmap) {
        HookBitmap = std::make_unique<TBitmap>(width, height);
        HookBitmap->Canvas().BrushStyle = bsClear;
    } else if (HookBitmap->Width() != width || HookBitmap->Height() != height) {
        HookBitmap->SetSize(width, height);
    }
    bool stop = false;

    const AVPixelFormat source = static_cast<AVPixelFormat>(pixelFormat);
    const AVPixelFormat rgb = HookRgbFormat;
    const bool direct = source == rgb;
    uint8_t* rgbData[4] = {};
    int rgbLinesize[4] = {};
    if (direct) {
        std::copy(data, data + 4, rgbData);
        std::copy(linesize, linesize + 4, rgbLinesize);
    } else {
        int size = av::av_image_get_buffer_size(rgb, width, height, kRgbAlign);
        if (size > 0 && (!HookRgbBuffer || HookRgbBufferSize < size)) {
            HookRgbBuffer.reset(static_cast<uint8_t*>(av::av_malloc(static_cast<size_t>(size))));
            HookRgbBufferSize = HookRgbBuffer ? size : 0;
        }
        if (size <= 0 || !HookRgbBuffer ||
            av::av_image_fill_arrays(rgbData, rgbLinesize, HookRgbBuffer.get(), rgb, width, height,
                                     kRgbAlign) < 0) {
            Log(0, "hook buf malloc error.");
            return;
        }
        ToRgbContext = av::sws_getCachedContext(ToRgbContext, width, height, source, width, height,
                                                rgb, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!ToRgbContext) {
            Log(0, "Cannot initialize the toRGB conversion context");
            stop = true;
        } else {
            av::sws_scale(ToRgbContext, data, linesize, 0, height, rgbData, rgbLinesize);
        }
    }

    if (!stop) {
        TBitmap& bitmap = *HookBitmap;
        const size_t rowBytes = static_cast<size_t>(std::min(rgbLinesize[0], bitmap.RowBytes()));
        for (int y = 0; y < height; ++y)
            std::memcpy(bitmap.ScanLine(y), rgbData[0] + static_cast<ptrdiff_t>(y) * rgbLinesize[0],
                        rowBytes);

        bool update = true;
        {
            CanvasLock lock(bitmap.Canvas());
            try {
                OnCustomHook(*this, &bitmap, HookFrameNumber, pts, update, stop);
            } catch (const std::exception& e) {
                Log(0, std::string("Error occurs OnCustomHook: ") + e.what());
                update = false;
            } catch (...) {
                Log(0, "Error occurs OnCustomHook: unknown exception");
                update = false;
            }
        }

        if (update) {
            for (int y = 0; y < height; ++y)
                std::memcpy(rgbData[0] + static_cast<ptrdiff_t>(y) * rgbLinesize[0],
                            bitmap.ScanLine(y), rowBytes);
            if (!direct) {
                FromRgbContext =
                    av::sws_getCachedContext(FromRgbContext, width, height, rgb, width, height,
                                             source, SWS_BICUBIC, nullptr, nullptr, nullptr);
                if (!FromRgbContext) {
                    Log(0, "Cannot initialize the fromRGB conversion context");
                    stop = true;
                } else {
                    av::sws_scale(FromRgbContext, rgbData, rgbLinesize, 0, height, data, linesize);
                }
            }
        }
    }

    if (stop) {
        OnCustomHook = nullptr;
        HookAction = haStop;
        UsingVhook = false;
    }
}

} // namespace mobivert::engine
