#pragma once
// Publishing outputs: an output is written under a hidden work name beside its final name
// (".<name>.part") and takes the final name only when it is complete, flushed to the disk and
// checked. Moving it there never replaces a file: when the name was taken meanwhile (by another
// program or another converter), the next free " [n]" name is used. A failed output leaves
// nothing; a cancelled one that holds media is kept under a name that says it is partial.

#include <functional>
#include <string>

namespace mobivert::converter {

class TFFmpeg;

// Creates the work file of finalName (".<file name>.part" in its folder, ".<file name>.1.part"
// and so on while taken) exclusively, so that no other writer shares it. Empty with the reason
// in error when it cannot be created.
std::string CreatePartFile(const std::string& finalName, std::string& error);

// The name with number n > 0 added: inside the closing bracket when the name (without its
// extension) ends with one, as output names do ("clip (MPEG-4 Video [1]).mp4"), otherwise
// " [n]" before the extension. n = 0 gives the name itself.
std::string NumberedName(const std::string& name, int n);

// The name of a partial output: " [partial]" before the extension
// ("clip (MPEG-4 Video) [partial].mp4"), " [partial n]" for n > 0.
std::string PartialName(const std::string& name, int n);

// Moves the file `from` to the first of nameOf(0), nameOf(1), ... that is free, never
// replacing anything there. The name taken, or empty with the reason in error.
std::string MoveToFreeName(const std::string& from, const std::function<std::string(int)>& nameOf,
                           std::string& error);

// Flushes the file's data to the disk; false with the reason in error.
bool SyncFile(const std::string& path, std::string& error);
// Flushes the folder holding the path, so a rename in it survives a power loss.
void SyncFolderOf(const std::string& path);

// Whether the file opens as media and gives at least one packet.
bool HoldsMedia(const std::string& path);

// Before a task's output is created: the task writes to a new work file of finalName
// (task.PartName), with the container chosen from finalName unless one is forced. Formats that
// write no file of their own keep no work file. False with the reason in error.
bool PrepareWorkFile(TFFmpeg& task, const std::string& finalName, std::string& error);

// A set-up that failed after PrepareWorkFile: the work file goes, and the reason names the
// final name instead of the work file.
void DropWorkFile(TFFmpeg& task, std::string& error);

// The end step of a task's output, on the side that owns the task, after its run ended and
// its output was closed: a completed output is checked (task.Warnings), and when it was
// written to a work file, flushed and moved to its final name (task.PublishedName); a
// cancelled one with media is kept as partial, anything else is removed. A completed output
// that cannot be moved to a final name fails the task.
void FinishTaskOutput(TFFmpeg& task);

} // namespace mobivert::converter
