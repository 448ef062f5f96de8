#include "tests/support/temp_file.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/crt_io.h"

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace testpe {

namespace {

long CurrentProcessId() {
#ifdef _WIN32
  return static_cast<long>(_getpid());
#else
  return static_cast<long>(getpid());
#endif
}

std::atomic<unsigned> fileCounter{0};

}  // namespace

std::string TempDirectory() {
#ifdef _WIN32
  char buffer[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof buffer, buffer);
  if (length > 0 && length < sizeof buffer) return std::string(buffer, length);
  return ".\\";
#else
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir != nullptr && dir[0] != 0) ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
#endif
}

OpenFd::~OpenFd() {
  if (fd_ != -1) (void)_close(fd_);
}

TempFile::TempFile(const std::vector<uint8_t>& bytes) {
  path_ = TempDirectory() + "pestkill-test-" + std::to_string(CurrentProcessId()) + "-" +
          std::to_string(fileCounter.fetch_add(1)) + ".bin";
  std::FILE* file = std::fopen(path_.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot create " + path_);
  size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
  int closed = std::fclose(file);
  if (written != bytes.size() || closed != 0) {
    (void)std::remove(path_.c_str());
    throw std::runtime_error("cannot write " + path_);
  }
}

TempFile::TempFile(TempFile&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }

TempFile::~TempFile() {
  if (!path_.empty()) (void)std::remove(path_.c_str());
}

OpenFd TempFile::Open() const { return OpenFd(_open(path_.c_str(), _O_RDONLY | _O_BINARY)); }

}  // namespace testpe
