// The whole path of a process's image, for a module entry whose path may have been
// cut: the module list holds at most MAX_PATH - 1 characters and gives the first
// 259 of a longer path (...\planted.ex), which names another file or none.
#pragma once

#include <windows.h>

#include <cstddef>

// The call that gives it (Windows Vista and later), resolved by name from the system
// library; null where the system lacks it, as Windows XP does.
using QueryFullProcessImageNameWFn = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPWSTR path,
                                                   PDWORD size);
QueryFullProcessImageNameWFn ResolveQueryFullProcessImageNameW(HMODULE library);

// The longest path the system can name (a counted string of 16-bit lengths), and
// room for the long-path prefix in front.
constexpr size_t WholeImagePathCapacity = 32768;
constexpr size_t LongPathPrefixLength = 4;  // "\\?\"

struct WholeImagePath {
  // The whole path with the "\\?\" prefix in front of a drive path, so that the file
  // calls take it beyond MAX_PATH.
  wchar_t extended[LongPathPrefixLength + WholeImagePathCapacity];
  // The same path without the prefix in the system code page: what the console shows.
  char shown[2 * WholeImagePathCapacity];
};

// True when the module entry's path may have been cut: it fills the field.
bool ModulePathMayBeCut(const char* modulePath);

// Fills out with the whole image path of the process when the module path may have
// been cut and the whole one is longer. False otherwise (the call is missing, the
// process cannot be asked, or the path was not cut): the module path then stands.
bool ReadWholeImagePath(QueryFullProcessImageNameWFn query, DWORD processId, const char* modulePath,
                        WholeImagePath* out);
