// The engine side of the conversion benchmark: one conversion through an engine session,
// driven the way the converter component drives it.
//
// Usage: bench_engine INPUT OUTPUT OPTION_TEXT [INPUT_OPTION_TEXT]
// OPTION_TEXT holds the output's options, one name=value a line (for example
// "vcodec=mpeg4\nb=1500k\nacodec=aac\nab=128k"; a literal "\n" in the argument is a line break);
// INPUT_OPTION_TEXT those applied before the input is opened (for example "threads=1").

#include "binding/AVLibs.h"
#include "engine/session/FFMpegException.h"
#include "engine/session/FFmpeg.h"

#include <cstdio>
#include <string>

using mobivert::engine::FFMpegException;
using mobivert::engine::TCustomFFmpeg;

namespace {

// The option text with each literal "\n" turned into a line break.
std::string OptionText(const char* text) {
    std::string options;
    for (const char* c = text; *c; ++c) {
        if (c[0] == '\\' && c[1] == 'n') {
            options += '\n';
            ++c;
        } else {
            options += *c;
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s INPUT OUTPUT OPTION_TEXT [INPUT_OPTION_TEXT]\n", argv[0]);
        return 2;
    }
    if (!mobivert::binding::LoadAVLibs("", true)) {
        std::fprintf(stderr, "bench_engine: %s\n", mobivert::binding::AVLibsLastError().c_str());
        return 1;
    }

    TCustomFFmpeg session;
    session.InitSession();
    session.SetVerbose(-1);
    try {
        if (argc == 5)
            session.ApplyOptionText(OptionText(argv[4]));
        if (!session.OpenInputFile(argv[1]))
            throw FFMpegException(session.SetupError);
        session.ApplyOptionText(OptionText(argv[3]));
        if (!session.OpenOutputFile(argv[2]))
            throw FFMpegException(session.SetupError);
    } catch (const FFMpegException& e) {
        std::fprintf(stderr, "bench_engine: %s\n", e.what());
        return 1;
    }
    session.StartConvert(false, mobivert::engine::tpNormal);
    if (session.Failed) {
        std::fprintf(stderr, "bench_engine: %s\n", session.ErrorMessage.c_str());
        return 1;
    }
    return 0;
}
