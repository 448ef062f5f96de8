// Directory walk on Windows with FindFirstFileA/FindNextFileA. Reparse points
// (symbolic links and junctions) inside a tree are skipped, never entered, so a
// junction back to an ancestor cannot loop. A file is opened with CreateFileA only
// to learn that it is a disk file and readable; consoles, pipes and other devices
// are reported, never handed to the detector. Volume mount points are reparse
// points too, so a walk never leaves its operand's volume (-x changes nothing).
// The ANSI calls limit a path to MAX_PATH characters; a longer one is reported.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "tools/pestkill-scan/sources/tree/file_walk.h"

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

// Volume serial number and file index; zero when the file system gives none.
FileIdentity IdentityOf(HANDLE handle) {
  FileIdentity identity;
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileInformationByHandle(handle, &information) != 0) {
    identity.device = information.dwVolumeSerialNumber;
    identity.file = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  }
  return identity;
}

// Directories entered in this run, across operands: one named twice is walked once.
std::set<std::pair<uint64_t, uint64_t>> walked;

// True the first time the directory is met (or when it cannot be told apart).
bool FirstVisit(const char* path) {
  HANDLE directory = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return true;
  const FileIdentity identity = IdentityOf(directory);
  (void)CloseHandle(directory);
  if (identity.device == 0 && identity.file == 0) return true;
  return walked.insert({identity.device, identity.file}).second;
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
  const FileIdentity identity = type == FILE_TYPE_DISK ? IdentityOf(file) : FileIdentity();
  (void)CloseHandle(file);
  if (type != FILE_TYPE_DISK) {
    visitor->error(visitor->context, path, "not a regular file (pipe, device or console), not scanned");
    return;
  }
  if (!sized) {
    visitor->error(visitor->context, path, DescribeError(sizeError));
    return;
  }
  visitor->file(visitor->context, path, path, static_cast<uint64_t>(size.QuadPart), identity);
}

void ReportTooLong(const WalkVisitor* visitor, const char* directory, const char* name) {
  static char reason[PathCapacity + 64];
  (void)std::snprintf(reason, sizeof reason, "path too long for entry '%s'", name);
  visitor->error(visitor->context, directory, reason);
}

// path holds the directory; entries are appended to it in place and cut off again.
void WalkDirectory(char* path, const WalkVisitor* visitor) {
  if (!FirstVisit(path)) {
    visitor->skipped(visitor->context, path, "directory already scanned under another name");
    return;
  }
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
    if (visitor->stopping(visitor->context)) break;
    const char* name = found.cFileName;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (!AppendPathComponent(path, PathCapacity, name, '\\')) {
      ReportTooLong(visitor, path, name);
      continue;
    }
    DWORD attributes = found.dwFileAttributes;
    if (!visitor->admit(visitor->context, path, name)) {
      // passed over, and reported by the visitor
    } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      visitor->skipped(visitor->context, path, "reparse point (symbolic link, junction or mount point)");
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      WalkDirectory(path, visitor);
    } else {
      VisitRegularFile(path, visitor);
    }
    path[length] = 0;
  } while (FindNextFileA(search, &found) != 0);
  DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES && !visitor->stopping(visitor->context)) {
    visitor->error(visitor->context, path, DescribeError(error));
  }
  (void)FindClose(search);
}

// The operand's last component, for --exclude: "a\\b\\" gives "b".
std::string LastComponent(const char* path) {
  const char* end = path + std::strlen(path);
  while (end > path + 1 && (end[-1] == '\\' || end[-1] == '/')) --end;
  const char* start = end;
  while (start > path && start[-1] != '\\' && start[-1] != '/' && start[-1] != ':') --start;
  return start == end ? std::string(path, end) : std::string(start, end);
}

}  // namespace

void WalkOperand(const char* path, const WalkSettings& settings, const WalkVisitor* visitor) {
  if (!visitor->admit(visitor->context, path, LastComponent(path).c_str())) return;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    ReportLastError(visitor, path);
    return;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    VisitRegularFile(path, visitor);
    return;
  }
  if (!settings.recursive) {
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
