// The offline scanner's own road to a file's bytes. Every reader and check reads
// through the descriptor's four operations (image/file_read.h); the scanner links
// its own definitions of them (read_layer_posix.cpp), which serve a descriptor
// bound to the calling thread from a buffer in user space: the first 16 KiB in one
// read, further blocks on demand, each read at an explicit offset, and the
// position kept in the thread's view, so no seek reaches the kernel. A descriptor
// not bound to the calling thread is read through the runtime's calls as before.
//
// The results are those of the runtime's descriptor reads: the same counts, the
// same bytes, a failed seek leaving the position alone, a read moving it on by what
// it delivered, the length held at the largest 32-bit value for a file of 2 GiB or
// more. Bytes once read are kept for the rest of the judgement; a read that goes
// beyond the end the file had when a block was read asks the kernel again, so a
// file that grew meanwhile is read on as a descriptor would read it. The length is
// the one the caller measured on the descriptor when it opened it, where given, so
// that the file is not measured twice; else the kernel is asked each time.
//
// A file that has no descriptor of the kernel (a file inside a disk image) is
// judged through a read source of its own: the same view and blocks, filled by the
// source's reads instead of pread.
//
// A build that links read_layer_runtime.cpp instead judges through the runtime's
// calls alone, for comparing the two roads.
#pragma once

#include <cstdint>

#include "detect/check_trace.h"

// Judges the open regular file fd (its position at the start of the file) on the
// calling thread, as JudgeOpenImageFile does; size is its length as fstat gave it
// on fd, or -1. fd stays open.
Variant JudgeThroughReadLayer(int fd, int64_t size, ScanStop* stop, ScanTrace* trace);

// Binds fd, just opened, to the calling thread's view, replacing whatever was
// bound before; until UnbindReadView the four operations on fd are served from
// it. size: as for JudgeThroughReadLayer. A thread has one view: each worker
// judges one file at a time.
void BindReadView(int fd, int64_t size = -1);
void UnbindReadView();

// Reads at explicit offsets from a file that has no descriptor: up to count bytes
// at offset into buffer, their number (0 at the end of the file), or -1 on an error.
struct ReadSource {
  void* context = nullptr;
  int64_t (*readAt)(void* context, void* buffer, uint64_t count, int64_t offset) = nullptr;
};

// Judges the file source reads, of size bytes, on the calling thread, as
// JudgeThroughReadLayer judges a descriptor.
Variant JudgeThroughReadSource(const ReadSource& source, int64_t size, ScanStop* stop, ScanTrace* trace);
