// The binders of the six FFmpeg libraries: each knows its library by its plain name and by the
// versioned name of the major version this build was compiled against, and fills the library's
// entry table.
#include "binding/AVCodecHlpr.h"
#include "binding/AVFilterHlpr.h"
#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"
#include "binding/SwResampleHlpr.h"
#include "binding/SwScaleHlpr.h"

#include <string>

namespace mobivert::binding {

#define MOBIVERT_LIBRARY_BINDER(binderName, soName, versionMajor, entries)                         \
    LibraryBinder& binderName() {                                                                  \
        static LibraryBinder binder(soName, soName "." + std::to_string(versionMajor),             \
                                    {entries(MOBIVERT_ENTRY_SLOT)});                               \
        return binder;                                                                             \
    }

MOBIVERT_LIBRARY_BINDER(AVUtilBinder, "libavutil.so", LIBAVUTIL_VERSION_MAJOR,
                        MOBIVERT_AVUTIL_ENTRIES)
MOBIVERT_LIBRARY_BINDER(AVCodecBinder, "libavcodec.so", LIBAVCODEC_VERSION_MAJOR,
                        MOBIVERT_AVCODEC_ENTRIES)
MOBIVERT_LIBRARY_BINDER(AVFormatBinder, "libavformat.so", LIBAVFORMAT_VERSION_MAJOR,
                        MOBIVERT_AVFORMAT_ENTRIES)
MOBIVERT_LIBRARY_BINDER(AVFilterBinder, "libavfilter.so", LIBAVFILTER_VERSION_MAJOR,
                        MOBIVERT_AVFILTER_ENTRIES)
MOBIVERT_LIBRARY_BINDER(SwScaleBinder, "libswscale.so", LIBSWSCALE_VERSION_MAJOR,
                        MOBIVERT_SWSCALE_ENTRIES)
MOBIVERT_LIBRARY_BINDER(SwResampleBinder, "libswresample.so", LIBSWRESAMPLE_VERSION_MAJOR,
                        MOBIVERT_SWRESAMPLE_ENTRIES)

#undef MOBIVERT_LIBRARY_BINDER

} // namespace mobivert::binding
