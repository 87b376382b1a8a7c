#include "engine/open/OpenErrorText.h"

#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"

#include <cerrno>
#include <filesystem>

namespace mobivert::engine {

std::string OpenErrorText(int errorCode, const std::string& fileName) {
    switch (errorCode) {
    case AVERROR_DEMUXER_NOT_FOUND:
    case AVERROR(EILSEQ):
        return fileName + ": Unknown format";
    case AVERROR(EDOM):
        return fileName + ": Incorrect image filename syntax.\r\n"
                          "Use '%d' to specify the image number:\r\n"
                          "  for img1.jpg, img2.jpg, ..., use 'img%d.jpg';\r\n"
                          "  for img001.jpg, img002.jpg, ..., use 'img%03d.jpg'.";
    case AVERROR_INVALIDDATA:
    case AVERROR(EINVAL):
        return fileName + ": Error while parsing header";
    case AVERROR(ENOMEM):
        return fileName + ": memory allocation error occurred";
    case AVERROR(EIO):
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR_EOF:
        return fileName + ": I/O error occurred\r\n"
                          "Usually that means that input file is truncated and/or corrupted.";
    case AVERROR(ENOENT):
        return fileName + ": no such file or directory";
    case AVERROR(ENOSPC):
    case AVERROR(EFBIG):
    case AVERROR(EDQUOT):
        return fileName + ": no space left on the device";
    default:
        return fileName + ": Error while opening file";
    }
}

bool IsOutOfSpace(int errorCode) {
    return errorCode == AVERROR(ENOSPC) || errorCode == AVERROR(EFBIG) ||
           errorCode == AVERROR(EDQUOT);
}

int ClassifyOpenError(int errorCode, const std::string& fileName,
                      const AVInputFormat* forcedFormat) {
    std::error_code ec;
    if (std::filesystem::is_directory(fileName, ec))
        return AVERROR(EISDIR);
    if (errorCode != AVERROR_INVALIDDATA)
        return errorCode;
    AVIOContext* pb = nullptr;
    if (av::avio_open(&pb, fileName.c_str(), AVIO_FLAG_READ) < 0)
        return errorCode;
    // Demuxers report a failed read as invalid data: a file that cannot be read is an I/O error.
    unsigned char first = 0;
    int ret = av::avio_read(pb, &first, 1);
    if (ret < 0 && ret != AVERROR_EOF) {
        av::avio_closep(&pb);
        return ret;
    }
    if (forcedFormat) {
        av::avio_closep(&pb);
        return errorCode;
    }
    // By content alone: a demuxer chosen only for the file name's extension does not count.
    const AVInputFormat* format = nullptr;
    if (av::avio_seek(pb, 0, SEEK_SET) == 0)
        av::av_probe_input_buffer2(pb, &format, "", nullptr, 0, 0);
    av::avio_closep(&pb);
    return format ? errorCode : AVERROR_DEMUXER_NOT_FOUND;
}

} // namespace mobivert::engine
