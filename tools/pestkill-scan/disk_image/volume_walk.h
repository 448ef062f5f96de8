// The walk of one file system inside a disk image, by its own iteration over the
// directories (a list of directories still to read, not recursion), so that no
// entry is lost to the depth of the tree or the length of its paths. Each
// directory is entered once: a directory met again (a loop in damaged metadata) is
// an error, not an endless walk.
#pragma once

#include <tsk/libtsk.h>

#include <cstdint>
#include <string>

struct VolumeWalkVisitor {
  void* context = nullptr;
  // A regular file, by its path in the volume ("/Windows/..."); file is open for the call.
  void (*file)(void* context, const std::string& inner, TSK_FS_FILE* file) = nullptr;
  void (*error)(void* context, const std::string& inner, const char* reason) = nullptr;
  // An entry that is not read: a link, a device, a special file, an excluded name.
  void (*skipped)(void* context, const std::string& inner, const char* reason) = nullptr;
  // False: the entry (and below a directory, everything in it) is passed over;
  // the callee reports it.
  bool (*admit)(void* context, const std::string& inner, const char* name) = nullptr;
  bool (*stopping)(void* context) = nullptr;
};

struct VolumeWalkCounts {
  uint64_t entries = 0;      // names met in the directories, "." and ".." aside
  uint64_t directories = 0;  // directories read
};

void WalkVolume(TSK_FS_INFO* fs, const VolumeWalkVisitor& visitor, VolumeWalkCounts* counts);
