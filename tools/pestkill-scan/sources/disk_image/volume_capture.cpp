#include "tools/pestkill-scan/sources/disk_image/volume_capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t CopyChunk = 64 * 1024;

bool OneFile(int a, int b) {
  struct stat first, second;
  return fstat(a, &first) == 0 && fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// A file without a name in dir, read and written here only.
int UnnamedFile(std::string* failure) {
  const char* dir = std::getenv("TMPDIR");
  if (dir == nullptr || dir[0] == 0) dir = "/tmp";
  int fd = open(dir, O_TMPFILE | O_RDWR, 0600);
  if (fd >= 0) return fd;
  // A file system without unnamed files: a named one, unlinked at once.
  std::string name = std::string(dir) + "/pestkill-scan-volume.XXXXXX";
  fd = mkstemp(&name[0]);
  if (fd >= 0) {
    (void)unlink(name.c_str());
    return fd;
  }
  *failure = std::string("no file for its report in ") + dir + ": " + std::strerror(errno);
  return -1;
}

// Copies fd from its start to stream; false when fd could not be read back
// (*readError) or stream could not be written.
bool CopyFile(int fd, FILE* stream, bool* readError) {
  static char chunk[CopyChunk];
  if (lseek(fd, 0, SEEK_SET) != 0) {
    *readError = true;
    return false;
  }
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *readError = true;
      return false;
    }
    if (got == 0) return true;
    if (std::fwrite(chunk, 1, static_cast<size_t>(got), stream) != static_cast<size_t>(got)) return false;
  }
}

}  // namespace

bool OpenVolumeCapture(VolumeCapture* capture, std::string* failure) {
  capture->out = UnnamedFile(failure);
  if (capture->out < 0) return false;
  if (OneFile(STDOUT_FILENO, STDERR_FILENO)) {
    capture->err = capture->out;
    return true;
  }
  capture->err = UnnamedFile(failure);
  if (capture->err >= 0) return true;
  CloseVolumeCapture(capture);
  return false;
}

bool WriteToVolumeCapture(const VolumeCapture& capture) {
  return dup2(capture.out, STDOUT_FILENO) >= 0 && dup2(capture.err, STDERR_FILENO) >= 0;
}

bool CopyVolumeCapture(ScanReport* report, const VolumeCapture& capture) {
  bool readError = false;
  if (BeginRecord(report)) {
    (void)CopyFile(capture.out, stdout, &readError);
    EndRecord(report);
  }
  if (capture.err != capture.out) {
    BeginErrorLine(report);
    (void)CopyFile(capture.err, stderr, &readError);
    std::fflush(stderr);
  }
  return !readError;
}

void CloseVolumeCapture(VolumeCapture* capture) {
  if (capture->err >= 0 && capture->err != capture->out) close(capture->err);
  if (capture->out >= 0) close(capture->out);
  capture->out = capture->err = -1;
}
