// Directory walk on Linux: lstat decides what an entry is before anything is
// opened, so a FIFO, a device or a socket is never opened (opening a FIFO blocks
// until a writer appears, opening a tape device may rewind it) and a symbolic link
// inside a tree is never followed (a link back to an ancestor would loop).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/pestkill-scan/file_walk.h"

namespace {

constexpr uint32_t PathCapacity = 4096;

void ReportErrno(const WalkVisitor* visitor, const char* path, int error) {
  visitor->error(visitor->context, path, std::strerror(error));
}

// Opens the regular file without blocking, checks on the open descriptor that it
// is still a regular file (the entry may have been replaced since it was looked
// at) and hands it to the visitor under a /proc/self/fd path naming that very
// descriptor. Where /proc is not mounted the plain path is handed over instead.
void VisitRegularFile(const char* path, bool followFinalLink, const WalkVisitor* visitor) {
  int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  if (!followFinalLink) flags |= O_NOFOLLOW;
  int fd = open(path, flags);
  if (fd < 0) {
    ReportErrno(visitor, path, errno);
    return;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    ReportErrno(visitor, path, errno);
  } else if (!S_ISREG(st.st_mode)) {
    visitor->error(visitor->context, path, "not a regular file");
  } else {
    char pinned[64];
    (void)std::snprintf(pinned, sizeof pinned, "/proc/self/fd/%d", fd);
    struct stat check;
    const char* openPath = stat(pinned, &check) == 0 && check.st_ino == st.st_ino ? pinned : path;
    visitor->file(visitor->context, path, openPath, static_cast<uint64_t>(st.st_size));
  }
  (void)close(fd);
}

// Kept out of the recursion's frames: the message buffer is static (one thread).
void ReportTooLong(const WalkVisitor* visitor, const char* directory, const char* name) {
  static char reason[PathCapacity + 64];
  (void)std::snprintf(reason, sizeof reason, "path too long for entry '%s'", name);
  visitor->error(visitor->context, directory, reason);
}

// path holds the directory; entries are appended to it in place and cut off again,
// so the whole walk uses one buffer however deep it goes.
void WalkDirectory(char* path, const WalkVisitor* visitor) {
  DIR* directory = opendir(path);
  if (directory == nullptr) {
    ReportErrno(visitor, path, errno);
    return;
  }
  size_t length = std::strlen(path);
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(directory);
    if (entry == nullptr) {
      if (errno != 0) ReportErrno(visitor, path, errno);
      break;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (!AppendPathComponent(path, PathCapacity, name, '/')) {
      ReportTooLong(visitor, path, name);
      continue;
    }
    struct stat st;
    if (lstat(path, &st) != 0) {
      ReportErrno(visitor, path, errno);
    } else if (S_ISDIR(st.st_mode)) {
      WalkDirectory(path, visitor);
    } else if (S_ISREG(st.st_mode)) {
      VisitRegularFile(path, false, visitor);
    } else {
      visitor->skipped(visitor->context, path);  // symbolic link, FIFO, device, socket
    }
    path[length] = 0;
  }
  (void)closedir(directory);
}

}  // namespace

void WalkOperand(const char* path, bool recursive, const WalkVisitor* visitor) {
  struct stat st;
  if (stat(path, &st) != 0) {
    ReportErrno(visitor, path, errno);
    return;
  }
  if (S_ISDIR(st.st_mode)) {
    if (!recursive) {
      visitor->error(visitor->context, path, "is a directory (use -r to scan it)");
      return;
    }
    char buffer[PathCapacity];
    if (std::strlen(path) >= sizeof buffer) {
      visitor->error(visitor->context, path, "path too long");
      return;
    }
    std::strcpy(buffer, path);
    WalkDirectory(buffer, visitor);
    return;
  }
  if (!S_ISREG(st.st_mode)) {
    visitor->error(visitor->context, path, "not a regular file (pipe, device or socket), not opened");
    return;
  }
  VisitRegularFile(path, true, visitor);
}
