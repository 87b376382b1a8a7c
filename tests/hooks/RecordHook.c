/* Test plug-in: writes what it is given into the file named by its first argument, one line
 * per event: "word <text>" for every Configure word, "process <pts>" for every picture and
 * "release" at the end. */
#include "mobivert/FrameHook.h"

#include <stdio.h>

int Configure(void** ctxp, int argc, char* argv[]) {
    if (argc < 2)
        return 1;
    FILE* file = fopen(argv[1], "w");
    if (!file)
        return 1;
    fprintf(file, "argc %d\n", argc);
    for (int i = 0; i < argc; ++i)
        fprintf(file, "word %s\n", argv[i]);
    fprintf(file, "last %s\n", argv[argc] ? "set" : "null");
    fflush(file);
    *ctxp = file;
    return 0;
}

void Process(void* ctx, FrameHookPicture* picture, int pix_fmt, int width, int height,
             int64_t pts) {
    (void)picture;
    fprintf(ctx, "process %lld %d %dx%d\n", (long long)pts, pix_fmt, width, height);
}

void Release(void* ctx) {
    fprintf(ctx, "release\n");
    fclose(ctx);
}
