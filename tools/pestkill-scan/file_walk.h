// Turns the path operands of the offline scanner into the regular files to judge,
// without ever opening anything that could block (pipes, devices, sockets) and
// without following a symbolic link found inside a directory tree.
#pragma once

#include <cstdint>

// What the walk reports. openPath names the same file as path, but pinned where
// the platform allows it: on Linux it is /proc/self/fd/N of a descriptor the walk
// holds open during the call, so the file judged is the one whose type was checked.
// size is the byte count the file system reports.
struct WalkVisitor {
  void* context;
  void (*file)(void* context, const char* path, const char* openPath, uint64_t size);
  void (*error)(void* context, const char* path, const char* reason);
  void (*skipped)(void* context, const char* path);
};

// A file operand is judged; a directory operand is walked when recursive is set
// (depth-first, entries in the order the directory lists them) and reported as an
// error otherwise. Symbolic links, pipes, devices and sockets met inside a
// directory are skipped; a symbolic link given as the operand itself is followed.
void WalkOperand(const char* path, bool recursive, const WalkVisitor* visitor);

// Appends separator and name to the path held in buffer (capacity bytes), leaving
// out the separator when the path already ends with one. False, with the buffer
// unchanged, when the result and its terminating zero would not fit.
bool AppendPathComponent(char* buffer, uint32_t capacity, const char* name, char separator);
