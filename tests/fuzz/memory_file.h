// A fuzz input as a file: an in-memory file (memfd) rewritten for each input, so
// the readers work through real descriptors and paths without touching the disk.
#pragma once

#include <cstddef>
#include <cstdint>

struct MemoryFile {
  int fd = -1;
  char path[32] = {};  // /proc/self/fd/N: opening it gives a fresh descriptor at offset 0
};

// Creates the file once per process; aborts if the system cannot.
MemoryFile* SharedMemoryFile();
// Replaces the file's contents with the input and rewinds the descriptor.
void FillMemoryFile(MemoryFile* file, const uint8_t* data, size_t size);
// The lowest free descriptor number: it grows when a reader leaks a descriptor.
int LowestFreeDescriptor();
