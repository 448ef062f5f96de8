// Directory walk on Windows with FindFirstFileA/FindNextFileA. Reparse points
// (symbolic links and junctions) inside a tree are skipped, never entered, so a
// junction back to an ancestor cannot loop. A file is opened with CreateFileA only
// to learn that it is a disk file and readable; consoles, pipes and other devices
// are reported, never handed to the detector.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "tools/pestkill-scan/file_walk.h"

namespace {

// The ANSI file functions take at most MAX_PATH characters.
constexpr uint32_t PathCapacity = MAX_PATH;

const char* DescribeError(DWORD error) {
  static char text[256];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  if (length == 0) {
    (void)std::snprintf(text, sizeof text, "error %lu", static_cast<unsigned long>(error));
  } else {
    text[length] = 0;
  }
  return text;
}

void ReportLastError(const WalkVisitor* visitor, const char* path) {
  visitor->error(visitor->context, path, DescribeError(GetLastError()));
}

void VisitRegularFile(const char* path, const WalkVisitor* visitor) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ReportLastError(visitor, path);
    return;
  }
  DWORD type = GetFileType(file);
  LARGE_INTEGER size;
  bool sized = type == FILE_TYPE_DISK && GetFileSizeEx(file, &size) != 0;
  DWORD sizeError = sized ? ERROR_SUCCESS : GetLastError();
  (void)CloseHandle(file);
  if (type != FILE_TYPE_DISK) {
    visitor->error(visitor->context, path, "not a regular file (pipe, device or console), not scanned");
    return;
  }
  if (!sized) {
    visitor->error(visitor->context, path, DescribeError(sizeError));
    return;
  }
  visitor->file(visitor->context, path, path, static_cast<uint64_t>(size.QuadPart));
}

void ReportTooLong(const WalkVisitor* visitor, const char* directory, const char* name) {
  static char reason[PathCapacity + 64];
  (void)std::snprintf(reason, sizeof reason, "path too long for entry '%s'", name);
  visitor->error(visitor->context, directory, reason);
}

// path holds the directory; entries are appended to it in place and cut off again.
void WalkDirectory(char* path, const WalkVisitor* visitor) {
  size_t length = std::strlen(path);
  if (!AppendPathComponent(path, PathCapacity, "*", '\\')) {
    visitor->error(visitor->context, path, "path too long");
    return;
  }
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  path[length] = 0;
  if (search == INVALID_HANDLE_VALUE) {
    ReportLastError(visitor, path);
    return;
  }
  do {
    const char* name = found.cFileName;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (!AppendPathComponent(path, PathCapacity, name, '\\')) {
      ReportTooLong(visitor, path, name);
      continue;
    }
    DWORD attributes = found.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      visitor->skipped(visitor->context, path);
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      WalkDirectory(path, visitor);
    } else {
      VisitRegularFile(path, visitor);
    }
    path[length] = 0;
  } while (FindNextFileA(search, &found) != 0);
  DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES) visitor->error(visitor->context, path, DescribeError(error));
  (void)FindClose(search);
}

}  // namespace

void WalkOperand(const char* path, bool recursive, const WalkVisitor* visitor) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    ReportLastError(visitor, path);
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    VisitRegularFile(path, visitor);
    return;
  }
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
}
