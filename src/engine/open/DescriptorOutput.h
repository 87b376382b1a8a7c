#pragma once
// Output written through a descriptor the caller opened, instead of a file the library opens by
// name. The caller creates the file exactly as it must be (exclusively, never through a link,
// relative to its folder); the output then cannot land anywhere else, whatever happens to the
// name meanwhile. The byte stream is seekable, so muxers that go back to fill in sizes and
// indexes work as with a named file.

#include <string>

struct AVFormatContext;
struct AVIOContext;

namespace mobivert::engine {

// A byte stream over a copy of descriptor fd (fd itself stays the caller's), written from the
// start of the file. Null when it cannot be made; errno tells why.
AVIOContext* OpenDescriptorOutput(int fd);

// Closes the container's byte stream, whichever way it was opened: one of OpenDescriptorOutput
// (marked with AVFMT_FLAG_CUSTOM_IO) is flushed and freed with its descriptor, one the library
// opened by name is closed by the library. Nothing when there is none.
void CloseOutputIO(AVFormatContext* oc);

// Whether the container writes through a descriptor stream.
bool WritesThroughDescriptor(const AVFormatContext* oc);

} // namespace mobivert::engine
