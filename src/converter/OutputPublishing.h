#pragma once
// Publishing outputs: an output is written under a hidden work name beside its final name
// (".<name>.part", see WorkFile.h) and takes the final name only when it is complete, flushed
// to the disk and checked. The work file exists only while its task runs. Moving it there never
// replaces a file: when the name was taken meanwhile (by another program or another converter), the
// next free " [n]" name is used. A failed output leaves nothing; a cancelled one that holds media
// is kept under a name that says it is partial.

#include <string>

namespace mobivert::converter {

class TFFmpeg;

// The name with number n > 0 added: inside the closing bracket when the name (without its
// extension) ends with one, as output names do ("clip (MPEG-4 Video [1]).mp4"), otherwise
// " [n]" before the extension. n = 0 gives the name itself.
std::string NumberedName(const std::string& name, int n);

// The name of a partial output: " [partial]" before the extension
// ("clip (MPEG-4 Video) [partial].mp4"), " [partial n]" for n > 0.
std::string PartialName(const std::string& name, int n);

// Whether the file opens as media and gives at least one packet.
bool HoldsMedia(const std::string& path);

// Before a task's output is created at set-up: the container is chosen from finalName unless
// one is forced, and when it writes a file of its own the task's output is published
// (task.PublishesOutput): the check is made through a work file, which goes again once the
// check is done (DropWorkFile), so that a waiting task leaves no file behind. False with the
// reason in error when no work file can be created in the folder.
bool PrepareWorkFile(TFFmpeg& task, const std::string& finalName, std::string& error);

// The work file made for the set-up check goes (nothing else is touched).
void DropWorkFile(TFFmpeg& task);

// At the task's turn, before its output is opened: a published output gets its work file,
// created now, and the run writes through its descriptor (task.OutputDescriptor; the work
// file's path labels the output, task.OutputFileName). False with
// the reason in error ("Could not open '<output>': <system's reason>").
bool OpenWorkFile(TFFmpeg& task, std::string& error);

// The end step of a task's output, on the side that owns the task, after its run ended and
// its output was closed: a completed output is checked (task.Warnings), and when it was
// written to a work file, flushed and moved to its final name (task.PublishedName); a
// cancelled one with media is kept as partial, anything else is removed. A completed output
// that cannot be moved to a final name, or whose work file was replaced meanwhile, fails the
// task. An output written through a descriptor for another process (a worker's) is left to
// that process.
void FinishTaskOutput(TFFmpeg& task);

} // namespace mobivert::converter
