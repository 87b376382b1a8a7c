#pragma once
// How the front ends' heap is used. A batch keeps one small record per waiting file for the
// whole batch, and setting up or converting a file allocates and frees the libraries' large
// buffers (I/O buffers, decode buffers, probe data) in between. By default the C library
// raises the size from which it maps a block on its own after the first such block is freed,
// so later large buffers are carved out of the heap; the records allocated after them then
// keep the holes they leave from being given back, and the heap grows with the batch.

namespace mobivert::app {

// Blocks from this size on get pages of their own, returned when they are freed.
constexpr int LargeBlockBytes = 64 * 1024;

// Files set up between two calls of ReturnFreedMemory.
constexpr int FilesPerReturn = 32;

// Fixes that size (which also stops the library from raising it). Called once at start-up,
// before anything is allocated in bulk; true when the C library took the setting.
bool KeepLargeBuffersOffTheHeap();

// Gives the pages of the heap's free blocks back to the system. Setting up a file opens it
// twice (the probe and its task), and the buffers of one opening are freed around blocks the
// other keeps, so the heap's free room grows in pieces the next file's buffers do not fit; the
// set-up of a batch calls this every FilesPerReturn files, so that the pieces hold no memory.
void ReturnFreedMemory();

} // namespace mobivert::app
