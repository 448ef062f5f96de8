// Turns the path operands of the offline scanner into the regular files to judge,
// without ever opening anything that could block (pipes, devices, sockets) and
// without following a symbolic link found inside a directory tree.
#pragma once

#include <cstdint>

#include "tools/pestkill-scan/judgement/file_identity.h"

// Which file a path names, for judging each file once however many names lead to
// it: device and inode on Linux, volume serial number and file index on Windows.

// What the walk reports. openPath names the same file as path, but pinned where
// the platform allows it: on Linux it is /proc/self/fd/N of a descriptor the walk
// holds open during the call, so the file judged is the one whose type was checked
// (and a path of any length can be opened). size is the byte count the file
// system reports. Reasons are short texts of the walk, or the system's message.
struct WalkVisitor {
  void* context;
  void (*file)(void* context, const char* path, const char* openPath, uint64_t size, FileIdentity identity);
  void (*error)(void* context, const char* path, const char* reason);
  // An entry inside a tree that is not scanned: a link, pipe, device or socket, a
  // directory on another file system, or one already walked.
  void (*skipped)(void* context, const char* path, const char* reason);
  // Asked before anything is done with an entry (name is its last component):
  // false passes it over, and the visitor has reported why.
  bool (*admit)(void* context, const char* path, const char* name);
  // True once the scan must stop (a signal, or output that cannot be written):
  // the walk ends before the next entry.
  bool (*stopping)(void* context);
  // Optional: where the walk holds a regular file open, it hands the descriptor
  // (read-only, at the start of the file) here instead of calling file, and the
  // visitor owns it from then on and closes it. Null: file is called.
  void (*openFile)(void* context, const char* path, int fd, uint64_t size, FileIdentity identity) = nullptr;
};

struct WalkSettings {
  bool recursive = false;      // walk directory operands
  bool oneFileSystem = false;  // do not enter a directory on another device than its operand
};

// A file operand is judged; a directory operand is walked when recursive is set
// (depth-first, entries in the order the directory lists them) and reported as an
// error otherwise. Symbolic links, pipes, devices and sockets met inside a
// directory are passed over; a symbolic link given as the operand itself is
// followed. The walk keeps only a few directories open at a time, whatever the
// depth, and a directory it cannot read is reported as an error.
void WalkOperand(const char* path, const WalkSettings& settings, const WalkVisitor* visitor);

// Appends separator and name to the path held in buffer (capacity bytes), leaving
// out the separator when the path already ends with one. False, with the buffer
// unchanged, when the result and its terminating zero would not fit.
bool AppendPathComponent(char* buffer, uint32_t capacity, const char* name, char separator);
