#include "tools/pestkill-scan/sources/tree/file_list.h"

#include <cerrno>
#include <cstring>

#include "tools/pestkill-scan/report/stop_signal.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace {

// The next byte, or -1 at the end, on an error or on a stop signal. On Linux the
// read waits in poll, which a signal always interrupts (reads are restarted after
// a signal, so that output lines are finished).
int NextByte(FileList* list) {
  if (list->at == list->held) {
    list->at = list->held = 0;
#ifdef _WIN32
    list->held = std::fread(list->buffer, 1, sizeof list->buffer, list->stream);
    if (list->held == 0) {
      if (std::ferror(list->stream)) {
        list->failed = true;
        list->errorNumber = errno != 0 ? errno : EIO;
      }
      return -1;
    }
#else
    const int fd = fileno(list->stream);
    for (;;) {
      if (StopSignal() != 0) return -1;
      struct pollfd wait = {fd, POLLIN, 0};
      if (poll(&wait, 1, -1) < 0) {
        if (errno == EINTR) continue;
        break;  // the read below reports what is wrong
      }
      const ssize_t got = read(fd, list->buffer, sizeof list->buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        list->failed = true;
        list->errorNumber = errno;
        return -1;
      }
      if (got == 0) return -1;
      list->held = static_cast<size_t>(got);
      break;
    }
    if (list->held == 0) return -1;
#endif
  }
  return static_cast<unsigned char>(list->buffer[list->at++]);
}

}  // namespace

bool OpenFileList(const char* name, FileList* list) {
  if (std::strcmp(name, "-") != 0) {
    list->stream = std::fopen(name, "rb");
    return list->stream != nullptr;
  }
#ifdef _WIN32
  (void)_setmode(_fileno(stdin), _O_BINARY);
#endif
  list->stream = stdin;
  return true;
}

void CloseFileList(FileList* list) {
  if (list->stream != nullptr && list->stream != stdin) (void)std::fclose(list->stream);
  list->stream = nullptr;
}

bool ReadListedPath(FileList* list, char separator, std::string* path, bool* holdsNul) {
  for (;;) {
    path->clear();
    *holdsNul = false;
    int c = NextByte(list);
    if (c < 0) return false;
    for (; c >= 0 && c != static_cast<unsigned char>(separator); c = NextByte(list)) {
      if (c == 0) *holdsNul = true;
      *path += static_cast<char>(c);
    }
    // An entry cut by a read error or a signal is not scanned.
    if (c < 0 && (list->failed || StopSignal() != 0)) return false;
#ifdef _WIN32
    if (separator == '\n' && !path->empty() && path->back() == '\r') path->pop_back();
#endif
    if (!path->empty()) return true;
    if (c < 0) return false;
  }
}
