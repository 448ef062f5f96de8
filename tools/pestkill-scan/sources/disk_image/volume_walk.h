// The walk of one file system inside a disk image, by its own iteration over the
// directories (a list of directories still to read, not recursion), so that no
// entry is lost to the depth of the tree or the length of its paths. Besides the
// names in use it meets the deleted names the file system still holds, and the
// library's $OrphanFiles (deleted files whose name is gone). Each directory is
// entered once: a directory met again under a name in use (a loop in damaged
// metadata) is an error, not an endless walk.
#pragma once

#include <tsk/libtsk.h>

#include <cstdint>
#include <string>

// what, with the library's own words for its last error after it (then cleared).
std::string LibraryError(const char* what);

struct VolumeEntry {
  std::string inner;         // the path in the volume: "/Windows/..."
  TSK_FS_FILE* file;         // open for the call, with its metadata
  bool deleted = false;      // the name (or, below a deleted directory, a parent) is no longer in use
  bool reallocated = false;  // deleted, and its metadata entry now belongs to another file
  bool directory = false;    // a directory (its named streams are judged too), else a regular file
};

struct VolumeWalkVisitor {
  void* context = nullptr;
  // A regular file or a directory.
  void (*entry)(void* context, const VolumeEntry& entry) = nullptr;
  void (*error)(void* context, const std::string& inner, const char* reason) = nullptr;
  // An entry that is not read: a link, a device, a special file.
  void (*skipped)(void* context, const std::string& inner, const char* reason) = nullptr;
  // False: the entry (and below a directory, everything in it) is passed over;
  // the callee reports it.
  bool (*admit)(void* context, const std::string& inner, const char* name) = nullptr;
  bool (*stopping)(void* context) = nullptr;
};

struct VolumeWalkCounts {
  uint64_t names = 0;          // names in use met in the directories, "." and ".." aside
  uint64_t deletedNames = 0;   // deleted names met, with those below $OrphanFiles
  uint64_t directories = 0;    // directories read
};

void WalkVolume(TSK_FS_INFO* fs, const VolumeWalkVisitor& visitor, VolumeWalkCounts* counts);

// Metadata entries in use, as the file system's own tables count them; false when
// they cannot be read.
bool CountMetadataInUse(TSK_FS_INFO* fs, uint64_t* count);
