#include "driver/image_path.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

// The NT object-manager form and the Win32 long-path form of a DOS path.
const char* const PathPrefixes[] = {"\\??\\", "\\\\?\\"};

}  // namespace

bool HoldsSubstitutedCharacter(const char* path) {
  if (path == nullptr) return false;
  for (const char* prefix : PathPrefixes) {
    const size_t length = std::strlen(prefix);
    if (std::strncmp(path, prefix, length) == 0) {
      path += length;
      break;
    }
  }
  return std::strchr(path, '?') != nullptr;
}

bool CodePageSpells(const char* path, const wchar_t* widePath) {
  wchar_t readBack[MAX_PATH];
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, readBack, MAX_PATH) == 0) return false;
  return std::wcscmp(readBack, widePath) == 0;
}

const wchar_t* WithoutLongPathPrefix(const wchar_t* path) {
  if (path != nullptr && std::wcsncmp(path, L"\\\\?\\", 4) == 0) return path + 4;
  return path;
}
