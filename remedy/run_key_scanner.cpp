#include "remedy/run_key_scanner.h"

#include <windows.h>

#include <cstring>

#include "remedy/run_data_match.h"

namespace {

// Registry names and data are handled in fixed buffers of this size; a value whose
// name (with its terminator) or data do not fit is not examined.
constexpr DWORD RegistryBufferSize = 1024;

// The access every key is opened with, also when it is only read.
constexpr REGSAM FullAccess = KEY_ALL_ACCESS;

struct HiveRoot {
  HKEY root;
  const char* basePath;
};

bool LookUpHive(uint8_t hive, HiveRoot* out) {
  switch (hive) {
    case LocalMachineHive:
      *out = {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\"};
      return true;
    case CurrentUserHive:
      *out = {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\"};
      return true;
    case DefaultUserHive:
      // The profile new accounts are made from, and the one services run with.
      *out = {HKEY_USERS, ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\"};
      return true;
    default:
      return false;
  }
}

const char* LookUpKeyName(uint16_t key) {
  switch (key) {
    case RunKey: return "Run";
    case RunOnceKey: return "RunOnce";
    case RunServicesKey: return "RunServices";
    default: return nullptr;
  }
}

// The system's own calls on the ANSI road: the C runtime's upper-casing and comparison
// in its default locale, and the file system's short form.
void UpperCaseAnsi(char* text) { (void)_strupr(text); }

bool EqualIgnoringCaseAnsi(const char* left, const char* right) {
  return _stricmp(left, right) == 0;
}

size_t ShortFormAnsi(const char* path, char* out, size_t capacity, void*) {
  return GetShortPathNameA(path, out, static_cast<DWORD>(capacity));
}

const RunDataCalls<char> AnsiCalls = {UpperCaseAnsi, EqualIgnoringCaseAnsi, ShortFormAnsi, nullptr};

}  // namespace

int32_t ScanRunKey(const char* targetPath, uint16_t key, uint8_t hive, int32_t skipMatching,
                   int32_t deleteFlag, int32_t* found) {
  if (targetPath == nullptr || found == nullptr) return 0;

  char target[RegistryBufferSize];
  char keyPath[RegistryBufferSize];
  char valueName[RegistryBufferSize];
  char valueData[RegistryBufferSize];
  char collapsed[RegistryBufferSize];
  char shortPath[RegistryBufferSize];

  // Callers pass paths of at most MAX_PATH bytes; a longer one is refused rather than
  // cut, since a cut target could match (and delete) values that start other files.
  size_t targetLength = std::strlen(targetPath);
  if (targetLength >= sizeof(target)) return 0;
  std::memcpy(target, targetPath, targetLength + 1);
  AnsiCalls.upperCase(target);

  HiveRoot hiveRoot;
  const char* keyName = LookUpKeyName(key);
  if (!LookUpHive(hive, &hiveRoot) || keyName == nullptr) return 0;
  std::strcpy(keyPath, hiveRoot.basePath);
  std::strcat(keyPath, keyName);

  HKEY runKey = nullptr;
  if (RegOpenKeyExA(hiveRoot.root, keyPath, 0, FullAccess, &runKey) != ERROR_SUCCESS) return 0;

  std::memset(valueName, 0, sizeof(valueName));
  std::memset(valueData, 0, sizeof(valueData));
  DWORD index = 0;
  for (;;) {
    DWORD nameSize = RegistryBufferSize;
    DWORD dataSize = RegistryBufferSize;
    LONG status = RegEnumValueA(runKey, index, valueName, &nameSize, nullptr, nullptr,
                                reinterpret_cast<BYTE*>(valueData), &dataSize);
    if (status == ERROR_MORE_DATA) {
      // A name or data too long for the buffers. Ending the walk here would let every
      // value behind it go unseen, so a long value could shield the real one: pass over
      // it instead. The buffers may hold part of it; none of that is compared.
      std::memset(valueName, 0, sizeof(valueName));
      std::memset(valueData, 0, sizeof(valueData));
      ++index;
      continue;
    }
    if (status != ERROR_SUCCESS) break;  // ERROR_NO_MORE_ITEMS, or the key went away

    NormaliseRunData(valueData, RegistryBufferSize, dataSize, collapsed, AnsiCalls);

    if (skipMatching == 0 &&
        RunDataNamesTarget(valueData, target, shortPath, RegistryBufferSize, AnsiCalls)) {
      *found = 1;
      if (deleteFlag == 1 && RegDeleteValueA(runKey, valueName) == ERROR_SUCCESS) {
        // The values behind the deleted one have moved up by one index.
        index = 0;
        continue;
      }
    }
    ++index;
  }

  (void)RegCloseKey(runKey);
  return 1;
}

int32_t CleanRunKeys(const char* targetPath, uint16_t key, int32_t skipMatching) {
  int32_t found = 0;
  (void)ScanRunKey(targetPath, key, LocalMachineHive, skipMatching, 1, &found);
  (void)ScanRunKey(targetPath, key, CurrentUserHive, skipMatching, 1, &found);
  (void)ScanRunKey(targetPath, key, DefaultUserHive, skipMatching, 1, &found);
  return 1;
}
