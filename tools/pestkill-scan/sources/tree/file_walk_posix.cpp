// Directory walk on Linux. A symbolic link inside a tree is never followed (a link
// back to an ancestor would loop), and a FIFO, a device or a socket is never read.
// An entry the directory lists as a regular file is opened at once, relative to
// its directory's descriptor, with O_NOFOLLOW and O_NONBLOCK, and checked on the
// open descriptor: a link put in its place since the listing is not followed, a
// FIFO does not block the open, and anything but a regular file is closed unread.
// Every other entry is first looked at with fstatat (no link followed), so a FIFO,
// a device or a socket the listing shows is not even opened (opening a tape device
// may rewind it), and a directory is checked before it is entered.
//
// Depth costs memory, not descriptors or path length: a directory's names are read
// in full when it is entered, and the directory is then reached by openat from its
// parent, never by its path. Only the operand and the last few directories stay
// open; a directory whose descriptor was given up is reopened as ".." of its child
// when the walk comes back to it, and checked to be the same directory.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "tools/pestkill-scan/sources/tree/file_walk.h"

namespace {

// Directory descriptors held at most, the operand's included.
constexpr size_t OpenDirectoryBudget = 8;

using Identity = std::pair<uint64_t, uint64_t>;

Identity IdentityOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// Directories entered in this run, across operands: a directory named twice (an
// operand inside another, or a bind mount) is walked once.
std::set<Identity> walked_;

void ReportErrno(const WalkVisitor* visitor, const char* path, int error) {
  visitor->error(visitor->context, path, std::strerror(error));
}

const char* KindOf(mode_t mode) {
  if (S_ISLNK(mode)) return "symbolic link";
  if (S_ISFIFO(mode)) return "pipe";
  if (S_ISCHR(mode)) return "character device";
  if (S_ISBLK(mode)) return "block device";
  if (S_ISSOCK(mode)) return "socket";
  return "not a regular file";
}

// Opens the regular file without blocking, checks on the open descriptor that it
// is still a regular file (the entry may have been replaced since it was looked
// at) and hands it to the visitor under a /proc/self/fd path naming that very
// descriptor. Where /proc is not mounted the plain path is handed over instead. A
// visitor that takes the open descriptor itself gets it, with nothing reopened.
void VisitRegularFile(int directory, const char* name, const char* path, bool followFinalLink,
                      const WalkVisitor* visitor) {
  int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  if (!followFinalLink) flags |= O_NOFOLLOW;
  const int fd = openat(directory, name, flags);
  if (fd < 0) {
    ReportErrno(visitor, path, errno);
    return;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    ReportErrno(visitor, path, errno);
  } else if (!S_ISREG(st.st_mode)) {
    visitor->error(visitor->context, path, "not a regular file");
  } else if (visitor->openFile != nullptr) {
    const FileIdentity identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    visitor->openFile(visitor->context, path, fd, static_cast<uint64_t>(st.st_size), identity);
    return;
  } else {
    char pinned[64];
    (void)std::snprintf(pinned, sizeof pinned, "/proc/self/fd/%d", fd);
    struct stat check;
    const char* openPath = stat(pinned, &check) == 0 && check.st_ino == st.st_ino ? pinned : path;
    const FileIdentity identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    visitor->file(visitor->context, path, openPath, static_cast<uint64_t>(st.st_size), identity);
  }
  (void)close(fd);
}

// One directory on the walk's stack.
struct Frame {
  int fd = -1;                     // -1 once given up to stay within the budget
  Identity identity;               // to check a reopened descriptor
  size_t pathLength = 0;           // the directory's path is the walk's path up to here
  std::vector<std::string> names;  // every entry but "." and ".."
  std::vector<unsigned char> types;  // each name's type as the listing gave it (DT_...)
  size_t next = 0;
};

class TreeWalk {
 public:
  TreeWalk(const WalkSettings& settings, const WalkVisitor* visitor) : settings_(settings), visitor_(visitor) {}
  ~TreeWalk() {
    for (Frame& frame : frames_) CloseFrame(&frame);
  }

  // fd is an open descriptor of the directory named path; the walk owns it.
  void Run(const char* path, int fd, const struct stat& st) {
    path_ = path;
    device_ = static_cast<uint64_t>(st.st_dev);
    if (!Enter(fd, IdentityOf(st))) return;
    while (!frames_.empty()) {
      if (visitor_->stopping(visitor_->context)) return;
      Frame& top = frames_.back();
      if (top.next == top.names.size()) {
        Leave();
        continue;
      }
      const unsigned char type = top.types[top.next];
      const std::string name = top.names[top.next++];
      path_.resize(top.pathLength);
      if (path_.empty() || path_.back() != '/') path_ += '/';
      path_ += name;
      VisitEntry(top.fd, name.c_str(), type);
    }
  }

 private:
  // Reads the names of the directory open as fd and pushes it; false (fd closed)
  // when it cannot be read at all.
  bool Enter(int fd, Identity identity) {
    const int listing = dup(fd);
    DIR* directory = listing < 0 ? nullptr : fdopendir(listing);
    if (directory == nullptr) {
      const int error = errno;
      if (listing >= 0) (void)close(listing);
      (void)close(fd);
      ReportErrno(visitor_, path_.c_str(), error);
      return false;
    }
    Frame frame;
    frame.fd = fd;
    frame.identity = identity;
    frame.pathLength = path_.size();
    for (;;) {
      errno = 0;
      const struct dirent* entry = readdir(directory);
      if (entry == nullptr) {
        // The names read so far are still walked; the rest of the directory is lost
        // and said so.
        if (errno != 0) ReportErrno(visitor_, path_.c_str(), errno);
        break;
      }
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      frame.names.emplace_back(entry->d_name);
      frame.types.push_back(entry->d_type);
    }
    (void)closedir(directory);
    walked_.insert(identity);
    frames_.push_back(std::move(frame));
    KeepWithinBudget();
    return true;
  }

  // Gives up the descriptor of the shallowest open directory below the operand.
  void KeepWithinBudget() {
    size_t open = 0;
    for (const Frame& frame : frames_) open += frame.fd >= 0 ? 1 : 0;
    for (size_t i = 1; open > OpenDirectoryBudget && i < frames_.size(); ++i) {
      if (frames_[i].fd < 0) continue;
      CloseFrame(&frames_[i]);
      --open;
    }
  }

  // Pops the finished directory; its parent gets its descriptor back through ".."
  // when it gave it up.
  void Leave() {
    Frame done = std::move(frames_.back());
    frames_.pop_back();
    if (!frames_.empty() && frames_.back().fd < 0) Reopen(&frames_.back(), done.fd);
    CloseFrame(&done);
  }

  void Reopen(Frame* parent, int child) {
    path_.resize(parent->pathLength);
    const int fd = child < 0 ? -1 : openat(child, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && IdentityOf(st) == parent->identity) {
      parent->fd = fd;
      return;
    }
    if (fd >= 0) (void)close(fd);
    if (parent->next < parent->names.size()) {
      visitor_->error(visitor_->context, path_.c_str(),
                      "moved or replaced during the scan; its remaining entries are not scanned");
    }
    parent->next = parent->names.size();
  }

  static void CloseFrame(Frame* frame) {
    if (frame->fd >= 0) (void)close(frame->fd);
    frame->fd = -1;
  }

  bool OnStack(Identity identity) const {
    for (const Frame& frame : frames_)
      if (frame.identity == identity) return true;
    return false;
  }

  void VisitEntry(int directory, const char* name, unsigned char listedType) {
    const char* path = path_.c_str();
    if (directory < 0) {
      visitor_->error(visitor_->context, path, "its directory could not be reopened");
      return;
    }
    if (!visitor_->admit(visitor_->context, path, name)) return;
    if (listedType == DT_REG) {
      // The check on the open descriptor is the one that counts.
      VisitRegularFile(directory, name, path, false, visitor_);
      return;
    }
    struct stat st;
    if (fstatat(directory, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      ReportErrno(visitor_, path, errno);
    } else if (S_ISREG(st.st_mode)) {
      VisitRegularFile(directory, name, path, false, visitor_);
    } else if (!S_ISDIR(st.st_mode)) {
      visitor_->skipped(visitor_->context, path, KindOf(st.st_mode));
    } else if (settings_.oneFileSystem && static_cast<uint64_t>(st.st_dev) != device_) {
      visitor_->skipped(visitor_->context, path, "on another file system");
    } else if (OnStack(IdentityOf(st))) {
      visitor_->error(visitor_->context, path, "the same directory as one it lies in (a bind mount?); not entered");
    } else if (walked_.count(IdentityOf(st)) != 0) {
      visitor_->skipped(visitor_->context, path, "directory already scanned under another name");
    } else {
      const int fd = openat(directory, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
      struct stat opened;
      if (fd < 0) {
        ReportErrno(visitor_, path, errno);
      } else if (fstat(fd, &opened) != 0 || IdentityOf(opened) != IdentityOf(st)) {
        (void)close(fd);
        visitor_->error(visitor_->context, path, "replaced while it was being opened; not entered");
      } else {
        (void)Enter(fd, IdentityOf(st));
      }
    }
  }

  const WalkSettings settings_;
  const WalkVisitor* visitor_;
  std::string path_;
  uint64_t device_ = 0;
  std::vector<Frame> frames_;
};

// The operand's last component, for --exclude: "a/b/" gives "b", "/" gives "/".
std::string LastComponent(const char* path) {
  const char* end = path + std::strlen(path);
  while (end > path + 1 && end[-1] == '/') --end;
  const char* start = end;
  while (start > path && start[-1] != '/') --start;
  return start == end ? std::string(path, end) : std::string(start, end);
}

}  // namespace

void WalkOperand(const char* path, const WalkSettings& settings, const WalkVisitor* visitor) {
  if (!visitor->admit(visitor->context, path, LastComponent(path).c_str())) return;
  struct stat st;
  if (stat(path, &st) != 0) {
    ReportErrno(visitor, path, errno);
    return;
  }
  if (S_ISDIR(st.st_mode)) {
    if (!settings.recursive) {
      visitor->error(visitor->context, path, "is a directory (use -r to scan it)");
      return;
    }
    if (walked_.count(IdentityOf(st)) != 0) {
      visitor->skipped(visitor->context, path, "directory already scanned under another name");
      return;
    }
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
      ReportErrno(visitor, path, errno);
      return;
    }
    TreeWalk walk(settings, visitor);
    walk.Run(path, fd, st);
    return;
  }
  if (!S_ISREG(st.st_mode)) {
    visitor->error(visitor->context, path, "not a regular file (pipe, device or socket), not opened");
    return;
  }
  VisitRegularFile(AT_FDCWD, path, path, true, visitor);
}
