/* Example frame-hook plug-in: paints a filled box of one colour into every picture it is given,
 * optionally only between two times.
 *
 *     vhook=/path/libmobivert_example_hook.so x=16 y=16 width=64 height=48 color=ff0000
 *     vhook=/path/libmobivert_example_hook.so|x=0|y=0|width=32|height=32|from=1000|to=2000
 *
 * Words: x, y (top-left corner, default 0), width, height (default 32), color (RRGGBB in hex,
 * default ff0000), from, to (milliseconds; the box is painted on pictures whose time lies in
 * [from, to], default always). Unknown words or values that are not numbers refuse the
 * configuration. Planar 8-bit YUV and gray pictures and packed 24- and 32-bit RGB pictures are
 * painted; pictures in other formats are left as they are. */

#include "mobivert/FrameHook.h"

#include <libavutil/pixfmt.h>

#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

typedef struct BoxContext {
    int x, y, width, height;
    int red, green, blue;
    int64_t from_us, to_us;
} BoxContext;

static int parse_long(const char* text, int base, long long min, long long max, long long* value) {
    char* end = NULL;
    errno = 0;
    long long v = strtoll(text, &end, base);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max)
        return -1;
    *value = v;
    return 0;
}

static int configure_word(BoxContext* box, const char* word) {
    const char* equals = strchr(word, '=');
    if (!equals)
        return -1;
    size_t key_length = (size_t)(equals - word);
    const char* value = equals + 1;
    long long v = 0;
#define KEY(name) (key_length == strlen(name) && strncmp(word, name, key_length) == 0)
    if (KEY("x") || KEY("y") || KEY("width") || KEY("height")) {
        if (parse_long(value, 10, KEY("x") || KEY("y") ? 0 : 1, 1 << 16, &v) != 0)
            return -1;
        if (KEY("x"))
            box->x = (int)v;
        else if (KEY("y"))
            box->y = (int)v;
        else if (KEY("width"))
            box->width = (int)v;
        else
            box->height = (int)v;
    } else if (KEY("color")) {
        if (strlen(value) != 6 || parse_long(value, 16, 0, 0xFFFFFF, &v) != 0)
            return -1;
        box->red = (int)((v >> 16) & 0xFF);
        box->green = (int)((v >> 8) & 0xFF);
        box->blue = (int)(v & 0xFF);
    } else if (KEY("from") || KEY("to")) {
        if (parse_long(value, 10, 0, LLONG_MAX / 1000, &v) != 0)
            return -1;
        if (KEY("from"))
            box->from_us = v * 1000;
        else
            box->to_us = v * 1000;
    } else {
        return -1;
    }
#undef KEY
    return 0;
}

int Configure(void** ctxp, int argc, char* argv[]) {
    BoxContext* box = calloc(1, sizeof *box);
    if (!box)
        return -1;
    box->width = box->height = 32;
    box->red = 255;
    box->to_us = INT64_MAX;
    for (int i = 1; i < argc; ++i) {
        if (configure_word(box, argv[i]) != 0) {
            free(box);
            return -1;
        }
    }
    if (box->from_us > box->to_us) {
        free(box);
        return -1;
    }
    *ctxp = box;
    return 0;
}

static void fill_plane(uint8_t* plane, int linesize, int left, int top, int right, int bottom,
                       int bytes_per_pixel, const uint8_t* pixel) {
    for (int y = top; y < bottom; ++y) {
        uint8_t* row = plane + (ptrdiff_t)y * linesize + (ptrdiff_t)left * bytes_per_pixel;
        for (int x = left; x < right; ++x, row += bytes_per_pixel)
            memcpy(row, pixel, (size_t)bytes_per_pixel);
    }
}

static int clamp_byte(int v) {
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

void Process(void* ctx, FrameHookPicture* picture, int pix_fmt, int width, int height,
             int64_t pts) {
    const BoxContext* box = ctx;
    if (!box || pts < box->from_us || pts > box->to_us)
        return;
    int left = box->x < width ? box->x : width;
    int top = box->y < height ? box->y : height;
    int right = box->x + box->width < width ? box->x + box->width : width;
    int bottom = box->y + box->height < height ? box->y + box->height : height;
    if (left >= right || top >= bottom)
        return;
    const int r = box->red, g = box->green, b = box->blue;

    int shift_x = 0, shift_y = 0, full_range = 0, planar = 1;
    switch (pix_fmt) {
    case AV_PIX_FMT_YUVJ420P:
        full_range = 1; /* fall through */
    case AV_PIX_FMT_YUV420P:
        shift_x = shift_y = 1;
        break;
    case AV_PIX_FMT_YUVJ422P:
        full_range = 1; /* fall through */
    case AV_PIX_FMT_YUV422P:
        shift_x = 1;
        break;
    case AV_PIX_FMT_YUVJ444P:
        full_range = 1; /* fall through */
    case AV_PIX_FMT_YUV444P:
        break;
    case AV_PIX_FMT_YUVJ440P:
        full_range = 1; /* fall through */
    case AV_PIX_FMT_YUV440P:
        shift_y = 1;
        break;
    case AV_PIX_FMT_YUV411P:
        shift_x = 2;
        break;
    case AV_PIX_FMT_YUV410P:
        shift_x = shift_y = 2;
        break;
    case AV_PIX_FMT_GRAY8:
        break;
    default:
        planar = 0;
    }

    if (planar) {
        /* ITU-R BT.601, studio or full range. */
        uint8_t luma, cb, cr;
        if (full_range) {
            luma = (uint8_t)clamp_byte((77 * r + 150 * g + 29 * b + 128) >> 8);
            cb = (uint8_t)clamp_byte(((-43 * r - 85 * g + 128 * b + 128) >> 8) + 128);
            cr = (uint8_t)clamp_byte(((128 * r - 107 * g - 21 * b + 128) >> 8) + 128);
        } else {
            luma = (uint8_t)clamp_byte(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
            cb = (uint8_t)clamp_byte(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
            cr = (uint8_t)clamp_byte(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
        }
        fill_plane(picture->data[0], picture->linesize[0], left, top, right, bottom, 1, &luma);
        if (pix_fmt == AV_PIX_FMT_GRAY8)
            return;
        /* Every chroma sample whose luma area the box covers. */
        int c_left = left >> shift_x, c_top = top >> shift_y;
        int c_right = ((right - 1) >> shift_x) + 1, c_bottom = ((bottom - 1) >> shift_y) + 1;
        fill_plane(picture->data[1], picture->linesize[1], c_left, c_top, c_right, c_bottom, 1,
                   &cb);
        fill_plane(picture->data[2], picture->linesize[2], c_left, c_top, c_right, c_bottom, 1,
                   &cr);
        return;
    }

    uint8_t pixel[4];
    int bytes = 4;
    switch (pix_fmt) {
    case AV_PIX_FMT_RGB24:
        bytes = 3; /* fall through */
    case AV_PIX_FMT_RGBA:
    case AV_PIX_FMT_RGB0:
        pixel[0] = (uint8_t)r, pixel[1] = (uint8_t)g, pixel[2] = (uint8_t)b, pixel[3] = 255;
        break;
    case AV_PIX_FMT_BGR24:
        bytes = 3; /* fall through */
    case AV_PIX_FMT_BGRA:
    case AV_PIX_FMT_BGR0:
        pixel[0] = (uint8_t)b, pixel[1] = (uint8_t)g, pixel[2] = (uint8_t)r, pixel[3] = 255;
        break;
    case AV_PIX_FMT_ARGB:
    case AV_PIX_FMT_0RGB:
        pixel[0] = 255, pixel[1] = (uint8_t)r, pixel[2] = (uint8_t)g, pixel[3] = (uint8_t)b;
        break;
    case AV_PIX_FMT_ABGR:
    case AV_PIX_FMT_0BGR:
        pixel[0] = 255, pixel[1] = (uint8_t)b, pixel[2] = (uint8_t)g, pixel[3] = (uint8_t)r;
        break;
    default:
        return;
    }
    fill_plane(picture->data[0], picture->linesize[0], left, top, right, bottom, bytes, pixel);
}

void Release(void* ctx) {
    free(ctx);
}
