/* Test plug-in that needs a library from its own folder; it is built without a run path. */
#include "mobivert/FrameHook.h"

int hook_helper_answer(void);

int Configure(void** ctxp, int argc, char* argv[]) {
    (void)ctxp, (void)argc, (void)argv;
    return hook_helper_answer() == 42 ? 0 : 1;
}

void Process(void* ctx, FrameHookPicture* picture, int pix_fmt, int width, int height,
             int64_t pts) {
    (void)ctx, (void)picture, (void)pix_fmt, (void)width, (void)height, (void)pts;
}
