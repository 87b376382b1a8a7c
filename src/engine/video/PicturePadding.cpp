// Crop views and padded borders computed on the planes themselves, for every pixel format whose
// layout the library describes.

#include "engine/video/PicturePadding.h"

#include "binding/AVUtilHlpr.h"

#include <algorithm>
#include <cstring>

namespace mobivert::engine {

namespace {

constexpr uint64_t kUnusableFlags = AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM;

int CeilShift(int value, int shift) {
    return -((-value) >> shift);
}

// Planes 1 and 2 hold the chroma of a subsampled format; the others are full size.
bool SubsampledPlane(int plane) {
    return plane == 1 || plane == 2;
}

bool ChromaComponent(const AVPixFmtDescriptor* desc, int component) {
    return (component == 1 || component == 2) && desc->nb_components >= 3 &&
           !(desc->flags & AV_PIX_FMT_FLAG_RGB);
}

// The value component c gets: luma, the two chroma values, or full alpha, at the component's
// depth and position in its word.
uint32_t ComponentValue(const AVPixFmtDescriptor* desc, int c,
                        const std::array<int32_t, 3>& color) {
    const AVComponentDescriptor& comp = desc->comp[c];
    bool alpha = (desc->flags & AV_PIX_FMT_FLAG_ALPHA) && c == desc->nb_components - 1;
    uint32_t max = (1u << comp.depth) - 1;
    uint32_t value = 0;
    if (alpha) {
        value = max;
    } else {
        uint32_t eight = static_cast<uint32_t>(std::clamp(color[c < 3 ? c : 0], 0, 255));
        value = comp.depth >= 8 ? eight << (comp.depth - 8) : eight >> (8 - comp.depth);
    }
    return value << comp.shift;
}

int SampleBytes(const AVComponentDescriptor& comp) {
    int bits = comp.depth + comp.shift;
    return bits <= 8 ? 1 : bits <= 16 ? 2 : 0;
}

void StoreSample(uint8_t* at, uint32_t value, int bytes, bool bigEndian) {
    if (bytes == 1) {
        *at = static_cast<uint8_t>(value);
    } else if (bigEndian) {
        at[0] = static_cast<uint8_t>(value >> 8);
        at[1] = static_cast<uint8_t>(value);
    } else {
        at[0] = static_cast<uint8_t>(value);
        at[1] = static_cast<uint8_t>(value >> 8);
    }
}

// Paints samples [x0, x1) of the given rows of one component.
void FillComponentRows(const PicturePlanes& picture, const AVComponentDescriptor& comp,
                       uint32_t value, bool bigEndian, int y0, int y1, int x0, int x1) {
    if (x1 <= x0)
        return;
    int bytes = SampleBytes(comp);
    for (int y = y0; y < y1; ++y) {
        uint8_t* row =
            picture.Data[comp.plane] + static_cast<ptrdiff_t>(y) * picture.Linesize[comp.plane];
        if (bytes == 1 && comp.step == 1) {
            std::memset(row + x0, static_cast<int>(value), static_cast<size_t>(x1 - x0));
            continue;
        }
        for (int x = x0; x < x1; ++x)
            StoreSample(row + static_cast<ptrdiff_t>(x) * comp.step + comp.offset, value, bytes,
                        bigEndian);
    }
}

bool Paintable(const AVPixFmtDescriptor* desc) {
    if (!desc || (desc->flags & (kUnusableFlags | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_RGB)))
        return false;
    for (int c = 0; c < desc->nb_components; ++c) {
        const AVComponentDescriptor& comp = desc->comp[c];
        int bytes = SampleBytes(comp);
        if (bytes == 0 || comp.step % bytes != 0)
            return false;
    }
    return desc->nb_components > 0;
}

} // namespace

int CropPicture(PicturePlanes& view, const PicturePlanes& source, AVPixelFormat format, int top,
                int left) {
    const AVPixFmtDescriptor* desc = av::av_pix_fmt_desc_get(format);
    if (!desc || (desc->flags & kUnusableFlags) || top < 0 || left < 0)
        return -1;
    if (top % (1 << desc->log2_chroma_h) != 0 || left % (1 << desc->log2_chroma_w) != 0)
        return -1;
    view = source;
    for (int plane = 0; plane < 4 && source.Data[plane]; ++plane) {
        if ((desc->flags & AV_PIX_FMT_FLAG_PAL) && plane == 1)
            break;
        int step = 0;
        for (int c = 0; c < desc->nb_components; ++c)
            if (desc->comp[c].plane == plane)
                step = std::max(step, desc->comp[c].step);
        if (step == 0)
            return -1;
        int shiftX = SubsampledPlane(plane) ? desc->log2_chroma_w : 0;
        int shiftY = SubsampledPlane(plane) ? desc->log2_chroma_h : 0;
        view.Data[plane] += static_cast<ptrdiff_t>(top >> shiftY) * source.Linesize[plane] +
                            static_cast<ptrdiff_t>(left >> shiftX) * step;
    }
    return 0;
}

int PadPicture(PicturePlanes& picture, const PicturePlanes* source, int height, int width,
               AVPixelFormat format, int padTop, int padBottom, int padLeft, int padRight,
               const std::array<int32_t, 3>& color) {
    const AVPixFmtDescriptor* desc = av::av_pix_fmt_desc_get(format);
    if (!Paintable(desc) || padTop < 0 || padBottom < 0 || padLeft < 0 || padRight < 0 ||
        padTop + padBottom >= height || padLeft + padRight >= width)
        return -1;
    bool bigEndian = desc->flags & AV_PIX_FMT_FLAG_BE;
    for (int c = 0; c < desc->nb_components; ++c) {
        const AVComponentDescriptor& comp = desc->comp[c];
        if (!picture.Data[comp.plane])
            return -1;
        bool chroma = ChromaComponent(desc, c);
        int shiftX = chroma ? desc->log2_chroma_w : 0;
        int shiftY = chroma ? desc->log2_chroma_h : 0;
        int columns = CeilShift(width, shiftX);
        int rows = CeilShift(height, shiftY);
        int topEnd = padTop >> shiftY;
        int bottomStart = rows - (padBottom >> shiftY);
        int leftEnd = padLeft >> shiftX;
        int rightStart = columns - (padRight >> shiftX);
        uint32_t value = ComponentValue(desc, c, color);
        FillComponentRows(picture, comp, value, bigEndian, 0, topEnd, 0, columns);
        FillComponentRows(picture, comp, value, bigEndian, bottomStart, rows, 0, columns);
        FillComponentRows(picture, comp, value, bigEndian, topEnd, bottomStart, 0, leftEnd);
        FillComponentRows(picture, comp, value, bigEndian, topEnd, bottomStart, rightStart,
                          columns);
    }
    if (!source)
        return 0;
    int innerWidth = width - padLeft - padRight;
    int innerHeight = height - padTop - padBottom;
    int leftBytes[4] = {}, innerBytes[4] = {};
    if (av::av_image_fill_linesizes(leftBytes, format, padLeft) < 0 && padLeft > 0)
        return -1;
    if (av::av_image_fill_linesizes(innerBytes, format, innerWidth) < 0)
        return -1;
    int planes = av::av_pix_fmt_count_planes(format);
    for (int plane = 0; plane < planes; ++plane) {
        if (!source->Data[plane] || !picture.Data[plane])
            return -1;
        int shiftY = SubsampledPlane(plane) ? desc->log2_chroma_h : 0;
        int rows = CeilShift(innerHeight, shiftY);
        uint8_t* out = picture.Data[plane] +
                       static_cast<ptrdiff_t>(padTop >> shiftY) * picture.Linesize[plane] +
                       (padLeft > 0 ? leftBytes[plane] : 0);
        const uint8_t* in = source->Data[plane];
        for (int y = 0; y < rows; ++y) {
            std::memcpy(out, in, static_cast<size_t>(innerBytes[plane]));
            out += picture.Linesize[plane];
            in += source->Linesize[plane];
        }
    }
    return 0;
}

} // namespace mobivert::engine
