#include "detect/winlogon_impostor.h"

#include <windows.h>

#include <cstring>

#include "remedy/run_key_scanner.h"

namespace {

// The NT object-manager form of a DOS path, as some module lists report it.
const char NtPathPrefix[] = "\\??\\";
constexpr size_t NtPathPrefixLength = sizeof(NtPathPrefix) - 1;

const char LogonProgramName[] = "Winlogon";

}  // namespace

bool IsWinlogonImpostor(const char* imagePath) {
  if (imagePath == nullptr) return false;

  const char* path = imagePath;
  if (std::strncmp(path, NtPathPrefix, NtPathPrefixLength) == 0) path += NtPathPrefixLength;

  // A short (8.3) name would hide "Winlogon" behind something like WINLOG~1.EXE. When the
  // long form does not fit (the result is the size it would need), the path stays as given.
  char longPath[MAX_PATH];
  std::memset(longPath, 0, sizeof(longPath));
  DWORD longLength = GetLongPathNameA(path, longPath, sizeof(longPath));
  const char* workingPath = (longLength != 0 && longLength < sizeof(longPath)) ? longPath : path;

  // Every buffer below holds the whole working path; a longer one cannot come from a
  // module list, and is not judged.
  size_t workingLength = std::strlen(workingPath);
  if (workingLength >= MAX_PATH) return false;

  char directory[MAX_PATH];
  std::memcpy(directory, workingPath, workingLength + 1);
  char* lastSeparator = std::strrchr(directory, '\\');
  if (lastSeparator == nullptr) return false;

  char fileName[MAX_PATH];
  std::strcpy(fileName, lastSeparator + 1);
  *lastSeparator = '\0';

  // Everything from the first dot on goes, so winlogon.tmp.exe counts as winlogon.
  char* firstDot = std::strchr(fileName, '.');
  if (firstDot != nullptr) *firstDot = '\0';
  if (_stricmp(fileName, LogonProgramName) != 0) return false;

  char systemDirectory[MAX_PATH];
  std::memset(systemDirectory, 0, sizeof(systemDirectory));
  if (GetSystemDirectoryA(systemDirectory, sizeof(systemDirectory)) == 0) return false;
  // The real logon program lives right in the system directory; a subdirectory of it
  // is somewhere else.
  if (_stricmp(directory, systemDirectory) == 0) return false;

  char scanPath[MAX_PATH];
  std::memcpy(scanPath, workingPath, workingLength + 1);
  (void)_strupr(scanPath);

  // The real logon program is started by the system, never from a Run key. Both keys
  // are always read.
  int32_t foundInMachineRun = 0;
  int32_t foundInUserRun = 0;
  (void)ScanRunKey(scanPath, RunKey, LocalMachineHive, 0, 0, &foundInMachineRun);
  (void)ScanRunKey(scanPath, RunKey, CurrentUserHive, 0, 0, &foundInUserRun);
  return foundInMachineRun != 0 || foundInUserRun != 0;
}
