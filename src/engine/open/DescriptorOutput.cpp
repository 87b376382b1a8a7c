#include "engine/open/DescriptorOutput.h"

#include "binding/AVFormatHlpr.h"
#include "binding/AVUtilHlpr.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mobivert::engine {

namespace {

constexpr int kBufferSize = 64 * 1024;

struct DescriptorSink {
    int Fd = -1;
};

int Descriptor(void* opaque) {
    return static_cast<DescriptorSink*>(opaque)->Fd;
}

int ReadPacket(void* opaque, uint8_t* buffer, int size) {
    for (;;) {
        ssize_t n = read(Descriptor(opaque), buffer, static_cast<size_t>(size));
        if (n > 0)
            return static_cast<int>(n);
        if (n == 0)
            return AVERROR_EOF;
        if (errno != EINTR)
            return AVERROR(errno);
    }
}

// Every byte or the system's error: a short write (a full disk) is never taken for success.
int WritePacket(void* opaque, uint8_t* buffer, int size) {
    int written = 0;
    while (written < size) {
        ssize_t n =
            write(Descriptor(opaque), buffer + written, static_cast<size_t>(size - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return AVERROR(n < 0 ? errno : EIO);
        written += static_cast<int>(n);
    }
    return written;
}

int64_t Seek(void* opaque, int64_t offset, int whence) {
    if (whence & AVSEEK_SIZE) {
        struct stat info {};
        return fstat(Descriptor(opaque), &info) == 0 ? static_cast<int64_t>(info.st_size)
                                                     : AVERROR(errno);
    }
    off_t at = lseek(Descriptor(opaque), static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

} // namespace

AVIOContext* OpenDescriptorOutput(int fd) {
    int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return nullptr;
    if (lseek(own, 0, SEEK_SET) < 0) {
        int error = errno;
        close(own);
        errno = error;
        return nullptr;
    }
    auto* sink = new DescriptorSink{own};
    auto* buffer = static_cast<unsigned char*>(av::av_malloc(kBufferSize));
    AVIOContext* pb =
        buffer ? av::avio_alloc_context(buffer, kBufferSize, 1, sink, ReadPacket, WritePacket, Seek)
               : nullptr;
    if (!pb) {
        av::av_free(buffer);
        close(own);
        delete sink;
        errno = ENOMEM;
        return nullptr;
    }
    return pb;
}

void CloseOutputIO(AVFormatContext* oc) {
    if (!oc || !oc->pb)
        return;
    if (!WritesThroughDescriptor(oc)) {
        av::avio_closep(&oc->pb);
        return;
    }
    AVIOContext* pb = oc->pb;
    oc->pb = nullptr;
    av::avio_flush(pb);
    auto* sink = static_cast<DescriptorSink*>(pb->opaque);
    av::av_freep(&pb->buffer);
    av::avio_context_free(&pb);
    if (sink) {
        close(sink->Fd);
        delete sink;
    }
}

bool WritesThroughDescriptor(const AVFormatContext* oc) {
    return oc && (oc->flags & AVFMT_FLAG_CUSTOM_IO);
}

} // namespace mobivert::engine
