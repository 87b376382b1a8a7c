/* Test plug-in whose entry points carry names that differ from the interface's. */
#include <stdint.h>

__attribute__((visibility("default"))) int configure(void** ctxp, int argc, char* argv[]) {
    (void)ctxp, (void)argc, (void)argv;
    return 0;
}

__attribute__((visibility("default"))) void process(void* ctx, void* picture, int pix_fmt,
                                                    int width, int height, int64_t pts) {
    (void)ctx, (void)picture, (void)pix_fmt, (void)width, (void)height, (void)pts;
}

__attribute__((visibility("default"))) void ProcessFrame(void* ctx) {
    (void)ctx;
}
