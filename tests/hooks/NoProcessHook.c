/* Test plug-in without a Process entry. */
#include "mobivert/FrameHook.h"

int Configure(void** ctxp, int argc, char* argv[]) {
    (void)ctxp, (void)argc, (void)argv;
    return 0;
}

void Release(void* ctx) {
    (void)ctx;
}
