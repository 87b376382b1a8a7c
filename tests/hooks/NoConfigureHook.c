/* Test plug-in with only a Process entry: it darkens the top row of the luma plane. */
#include "mobivert/FrameHook.h"

#include <string.h>

void Process(void* ctx, FrameHookPicture* picture, int pix_fmt, int width, int height,
             int64_t pts) {
    (void)ctx, (void)pix_fmt, (void)height, (void)pts;
    memset(picture->data[0], 0, (size_t)width);
}
