/*
 * Corvel Mobivert frame-hook plug-in interface.
 *
 * A frame hook is a shared library that the converter loads when an output's options hold
 *
 *     vhook=/full/path/to/libmyhook.so arg1 arg2
 *
 * or, when the path or an argument contains blanks, the same words separated by "|":
 *
 *     vhook=/path with blanks/libmyhook.so|arg 1|arg2
 *
 * At most 63 words are passed. The library exports these C functions (plain C names, default
 * visibility; declare them with the prototypes below so the names are not mangled):
 *
 *   int Configure(void **ctxp, int argc, char *argv[]);
 *       Called once when the option is read. argv[0] is the library path, argv[1] .. argv[argc-1]
 *       the arguments, argv[argc] is NULL. The strings stay valid until Release has been
 *       called. Store any state in *ctxp (it starts as NULL). Return 0 on success; any other
 *       value refuses the option and fails the conversion ("Failed to Configure <path>").
 *       Optional: a library without Configure is accepted only when no arguments are given.
 *
 *   void Process(void *ctx, FrameHookPicture *picture, int pix_fmt, int width, int height,
 *                int64_t pts);
 *       Called for every decoded picture selected for hooking, before it is scaled and encoded,
 *       on the conversion's worker thread. The picture is a private, writable copy in the
 *       decoder's pixel format (pix_fmt is an enum AVPixelFormat value of libavutil); change it
 *       in place. pts is the picture's time in microseconds. Required.
 *
 *   void Release(void *ctx);
 *       Called once when the conversion session is freed. Optional.
 *
 * Libraries are loaded with their full path and stay loaded until the program ends; a library
 * named by several options (or several conversions) is loaded once and configured once per
 * option, each with its own context. Libraries that the plug-in needs and that lie in the
 * plug-in's own folder are found there.
 */
#ifndef MOBIVERT_FRAMEHOOK_H
#define MOBIVERT_FRAMEHOOK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Four plane pointers followed by four line sizes (bytes from one row to the next). */
typedef struct FrameHookPicture {
    uint8_t* data[4];
    int linesize[4];
} FrameHookPicture;

typedef int (*FrameHookConfigureFn)(void** ctxp, int argc, char* argv[]);
typedef void (*FrameHookProcessFn)(void* ctx, FrameHookPicture* picture, int pix_fmt, int width,
                                   int height, int64_t pts);
typedef void (*FrameHookReleaseFn)(void* ctx);

#if defined(__GNUC__)
#define FRAMEHOOK_EXPORT __attribute__((visibility("default")))
#else
#define FRAMEHOOK_EXPORT
#endif

/* Prototypes of the entry points a plug-in defines (the host, which only looks them up, defines
 * FRAMEHOOK_HOST to leave them out). */
#ifndef FRAMEHOOK_HOST
FRAMEHOOK_EXPORT int Configure(void** ctxp, int argc, char* argv[]);
FRAMEHOOK_EXPORT void Process(void* ctx, FrameHookPicture* picture, int pix_fmt, int width,
                              int height, int64_t pts);
FRAMEHOOK_EXPORT void Release(void* ctx);
#endif

#ifdef __cplusplus
}
#endif

#endif /* MOBIVERT_FRAMEHOOK_H */
