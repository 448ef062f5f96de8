#include "detect/winlogon_impostor.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "remedy/run_data_match.h"
#include "remedy/run_key_scanner.h"

namespace {

// The calls of each road: the ANSI forms for paths in the system code page, the wide
// forms for paths that the code page cannot spell.
struct AnsiPath {
  using Unit = char;
  // The NT object-manager form of a DOS path, as some module lists report it.
  static constexpr const char* NtPathPrefix = "\\??\\";
  static constexpr const char* LongPathPrefix = "\\\\?\\";
  static constexpr const char* LogonProgramName = "Winlogon";
  // Paths from the module list, which holds at most MAX_PATH - 1 characters.
  static constexpr size_t Capacity = MAX_PATH;
  static size_t Length(const char* text) { return std::strlen(text); }
  static bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
  }
  static DWORD LongPath(const char* path, char* out, DWORD capacity) {
    return GetLongPathNameA(path, out, capacity);
  }
  static DWORD SystemDirectory(char* out, UINT capacity) { return GetSystemDirectoryA(out, capacity); }
  static char* LastOf(char* text, char c) { return std::strrchr(text, c); }
  static char* FirstOf(char* text, char c) { return std::strchr(text, c); }
  static bool EqualIgnoringCase(const char* left, const char* right) {
    return _stricmp(left, right) == 0;
  }
  static void UpperCase(char* text) { (void)_strupr(text); }
  static int32_t ScanRun(const char* target, uint8_t hive, int32_t* found) {
    return ScanRunKey(target, RunKey, hive, MatchEachValue, DetectOnly, found);
  }
};

struct WidePath {
  using Unit = wchar_t;
  static constexpr const wchar_t* NtPathPrefix = L"\\??\\";
  static constexpr const wchar_t* LongPathPrefix = L"\\\\?\\";
  static constexpr const wchar_t* LogonProgramName = L"Winlogon";
  // Also whole image paths beyond MAX_PATH, up to the longest text a Run value can
  // hold for the Run-key scanner (1024 units): a longer path no Run value names.
  static constexpr size_t Capacity = 1024;
  static size_t Length(const wchar_t* text) { return std::wcslen(text); }
  static bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
  }
  static DWORD LongPath(const wchar_t* path, wchar_t* out, DWORD capacity) {
    return GetLongPathNameW(path, out, capacity);
  }
  static DWORD SystemDirectory(wchar_t* out, UINT capacity) {
    return GetSystemDirectoryW(out, capacity);
  }
  static wchar_t* LastOf(wchar_t* text, wchar_t c) { return std::wcsrchr(text, c); }
  static wchar_t* FirstOf(wchar_t* text, wchar_t c) { return std::wcschr(text, c); }
  // As the 8-bit road's runtime calls do it: only a-z have a case.
  static bool EqualIgnoringCase(const wchar_t* left, const wchar_t* right) {
    return EqualIgnoringAsciiCase(left, right);
  }
  static void UpperCase(wchar_t* text) { UpperCaseAsciiLetters(text); }
  static int32_t ScanRun(const wchar_t* target, uint8_t hive, int32_t* found) {
    return ScanRunKeyWide(target, RunKey, hive, MatchEachValue, DetectOnly, found);
  }
};

template <typename Text>
bool JudgeImpostor(const typename Text::Unit* imagePath) {
  using Unit = typename Text::Unit;
  if (imagePath == nullptr) return false;

  constexpr size_t Capacity = Text::Capacity;
  const Unit* path = imagePath;
  if (Text::StartsWith(path, Text::NtPathPrefix)) path += Text::Length(Text::NtPathPrefix);

  // A short (8.3) name would hide "Winlogon" behind something like WINLOG~1.EXE. When the
  // long form does not fit (the result is the size it would need), the path stays as given.
  // A path with the long-path prefix is asked for in that form, which the system takes
  // beyond MAX_PATH.
  Unit longPath[Capacity];
  std::memset(longPath, 0, sizeof(longPath));
  DWORD longLength = Text::LongPath(path, longPath, Capacity);
  const Unit* workingPath = (longLength != 0 && longLength < Capacity) ? longPath : path;
  // Neither the system directory nor a Run value spells a path with the prefix.
  if (Text::StartsWith(workingPath, Text::LongPathPrefix)) workingPath += Text::Length(Text::LongPathPrefix);

  // Every buffer below holds the whole working path; a longer one is not judged.
  size_t workingLength = Text::Length(workingPath);
  if (workingLength >= Capacity) return false;

  Unit directory[Capacity];
  std::memcpy(directory, workingPath, (workingLength + 1) * sizeof(Unit));
  Unit* lastSeparator = Text::LastOf(directory, Unit('\\'));
  if (lastSeparator == nullptr) return false;

  Unit fileName[Capacity];
  std::memcpy(fileName, lastSeparator + 1, (Text::Length(lastSeparator + 1) + 1) * sizeof(Unit));
  *lastSeparator = Unit(0);

  // Everything from the first dot on goes, so winlogon.tmp.exe counts as winlogon.
  Unit* firstDot = Text::FirstOf(fileName, Unit('.'));
  if (firstDot != nullptr) *firstDot = Unit(0);
  if (!Text::EqualIgnoringCase(fileName, Text::LogonProgramName)) return false;

  Unit systemDirectory[MAX_PATH];
  std::memset(systemDirectory, 0, sizeof(systemDirectory));
  if (Text::SystemDirectory(systemDirectory, MAX_PATH) == 0) return false;
  // The real logon program lives right in the system directory; a subdirectory of it
  // is somewhere else.
  if (Text::EqualIgnoringCase(directory, systemDirectory)) return false;

  Unit scanPath[Capacity];
  std::memcpy(scanPath, workingPath, (workingLength + 1) * sizeof(Unit));
  Text::UpperCase(scanPath);

  // The real logon program is started by the system, never from a Run key. Both keys
  // are always read.
  int32_t foundInMachineRun = 0;
  int32_t foundInUserRun = 0;
  (void)Text::ScanRun(scanPath, LocalMachineHive, &foundInMachineRun);
  (void)Text::ScanRun(scanPath, CurrentUserHive, &foundInUserRun);
  return foundInMachineRun != 0 || foundInUserRun != 0;
}

}  // namespace

bool IsWinlogonImpostor(const char* imagePath) { return JudgeImpostor<AnsiPath>(imagePath); }

bool IsWinlogonImpostorWide(const wchar_t* imagePath) { return JudgeImpostor<WidePath>(imagePath); }
