// Frame hooks of a session: the "vhook" option that adds plug-ins, the per-picture decision
// whether they run, and the release of everything the hooks hold.

#include "binding/AVUtilHlpr.h"
#include "binding/SwScaleHlpr.h"
#include "engine/hooks/FrameHookLibrary.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

#include <cstring>

namespace mobivert::engine {

namespace {

// The argument vector has room for 63 words and the terminating null entry.
constexpr int MaxHookWords = 63;

} // namespace

void TCustomFFmpeg::BufferFree::operator()(void* buffer) const {
    av::av_free(buffer);
}

void TCustomFFmpeg::AddVideoHook(const std::string& text) {
    const std::string failure = "Failed to add video hook function: " + text;
    // The plug-ins may keep pointers into their words until they are released.
    std::unique_ptr<char, BufferFree> copy(av::av_strdup(text.c_str()));
    if (!copy)
        throw FFMpegException(failure);
    const char* separator = text.find('|') != std::string::npos ? "|" : " ";
    char* argv[MaxHookWords + 1] = {};
    int argc = 0;
    char* position = nullptr;
    for (char* word = strtok_r(copy.get(), separator, &position); word && argc < MaxHookWords;
         word = strtok_r(nullptr, separator, &position))
        argv[argc++] = word;
    if (AddFrameHook(&FirstHook, argc, argv) != HOOK_ADDED)
        throw FFMpegException(failure);
    HookArguments.push_back(std::move(copy));
    UsingVhook = true;
}

void TCustomFFmpeg::SelectHookAction(int64_t pts) {
    ++HookFrameNumber;
    if (OnCustomHook || !UsingVhook)
        return;
    if (OnBeforeHook) {
        // The handler sees the answer it gave for the previous picture.
        THookAction action = static_cast<THookAction>(HookAction);
        try {
            OnBeforeHook(*this, action, pts);
            HookAction = action;
        } catch (const std::exception& e) {
            Log(0, std::string("Error occurs OnBeforeHook: ") + e.what());
            HookAction = haStop;
        } catch (...) {
            Log(0, "Error occurs OnBeforeHook: unknown exception");
            HookAction = haStop;
        }
        if (HookAction == haStop)
            UsingVhook = false;
    } else if (HookRangeCount > 0) {
        // The ranges are sorted by their end, so the search resumes where the last picture
        // matched; once the picture lies beyond the last range nothing is hooked any more.
        HookAction = haIgnore;
        for (int32_t i = HookRangeIndex; i < HookRangeCount; ++i) {
            const HookTimeRange& range = HookTimeRanges[static_cast<size_t>(i)];
            if (range.Start <= pts && pts <= range.End) {
                HookRangeIndex = i;
                HookAction = haContinue;
                break;
            }
            if (i == HookRangeCount - 1 && range.End < pts) {
                HookAction = haStop;
                UsingVhook = false;
            }
        }
    }
}

bool TCustomFFmpeg::HookWillRun() const {
    return OnCustomHook || (UsingVhook && HookAction == haContinue);
}

void TCustomFFmpeg::RunFrameHooks(uint8_t* data[4], int linesize[4], int pixelFormat, int width,
                                  int height, int64_t pts) {
    if (OnCustomHook) {
        RunCustomHook(data, linesize, pixelFormat, width, height, pts);
    } else if (UsingVhook && HookAction == haContinue) {
        // The plug-ins get their own copy of the plane record: they work on the pixels.
        FrameHookPicture picture{};
        for (int i = 0; i < 4; ++i) {
            picture.data[i] = data[i];
            picture.linesize[i] = linesize[i];
        }
        ProcessFrameHooks(FirstHook, &picture, pixelFormat, width, height, pts);
    }
}

void TCustomFFmpeg::ReleaseFrameHookState() {
    ReleaseFrameHooks(&FirstHook);
    HookArguments.clear();
    UsingVhook = false;
    HookBuffer.reset();
    HookBufferSize = 0;
    HookBitmap.reset();
    HookRgbBuffer.reset();
    HookRgbBufferSize = 0;
    av::sws_freeContext(ToRgbContext);
    ToRgbContext = nullptr;
    av::sws_freeContext(FromRgbContext);
    FromRgbContext = nullptr;
}

} // namespace mobivert::engine
