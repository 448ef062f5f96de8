// A file of given bytes in the temporary directory, removed again when the object
// goes away. The readers under test take a low-level descriptor, so fixtures built
// in memory are written out and opened with _open(_O_BINARY) like real images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testpe {

// A descriptor opened read-only and untranslated; closed in the destructor.
class OpenFd {
 public:
  explicit OpenFd(int fd) : fd_(fd) {}
  OpenFd(OpenFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  OpenFd& operator=(OpenFd&&) = delete;
  OpenFd(const OpenFd&) = delete;
  ~OpenFd();
  int get() const { return fd_; }
  operator int() const { return fd_; }

 private:
  int fd_;
};

class TempFile {
 public:
  // Writes the bytes to a new file whose name no other TempFile of this or another
  // process uses (directory, process id and a counter).
  explicit TempFile(const std::vector<uint8_t>& bytes);
  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&&) = delete;
  TempFile(const TempFile&) = delete;
  ~TempFile();

  const std::string& Path() const { return path_; }
  // _open(path, _O_RDONLY | _O_BINARY); the descriptor is -1 if that failed.
  OpenFd Open() const;

 private:
  std::string path_;
};

// A temporary file and a descriptor open on it, for the readers under test.
struct OpenedFile {
  explicit OpenedFile(const std::vector<uint8_t>& bytes) : file(bytes), fd(file.Open()) {}
  TempFile file;
  OpenFd fd;
};

// The directory for temporary files: GetTempPathA on Windows, TMPDIR or /tmp
// elsewhere; always ends with a path separator.
std::string TempDirectory();

}  // namespace testpe
