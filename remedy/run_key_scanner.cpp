#include "remedy/run_key_scanner.h"

#include <windows.h>

#include <cstring>

#include "remedy/collapse_blanks.h"

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

// Turns the raw bytes of one value into a comparable command line, in place.
// dataSize is the size the enumeration returned, at most RegistryBufferSize.
void NormaliseCommandLine(char* data, DWORD dataSize, char* collapseBuffer) {
  // Whatever the value's type, its bytes are taken as text. A string stored with its
  // terminator ends there; data stored without one loses its last byte. Nothing of an
  // earlier, longer value can show behind the end.
  if (dataSize > RegistryBufferSize) dataSize = RegistryBufferSize;
  data[RegistryBufferSize - 1] = '\0';
  data[dataSize == 0 ? 0 : dataSize - 1] = '\0';

  (void)_strupr(data);

  // Quotes only group a path with spaces; the loader does not see them.
  for (char* p = data; *p != '\0'; ++p)
    if (*p == '"') *p = ' ';

  // A directory named with its trailing separator is the same directory. Only the very
  // last byte counts: a quoted "C:\DIR\" now ends in a space and keeps its backslash.
  size_t length = std::strlen(data);
  if (length > 0 && data[length - 1] == '\\') data[length - 1] = '\0';

  CollapseBlanks(data, collapseBuffer);
  std::strcpy(data, collapseBuffer);
}

bool EndsCommandWord(char c, bool commaEnds) {
  return c == ' ' || c == '\0' || (commaEnds && c == ',');
}

// True when the command line D starts the file T (upper-cased).
bool CommandLineNamesTarget(const char* commandLine, const char* target, char* shortPath) {
  if (std::strlen(commandLine) <= std::strlen(target)) return _stricmp(commandLine, target) == 0;

  // A command line that is itself an existing path may name the target by its short
  // form; then only that form is searched, as the system spells it. A result of the
  // buffer's size or more is the size the short form would need, not a length.
  DWORD shortLength = GetShortPathNameA(commandLine, shortPath, RegistryBufferSize);
  if (shortLength != 0 && shortLength < RegistryBufferSize) {
    const char* at = std::strstr(shortPath, target);
    return at != nullptr && EndsCommandWord(at[std::strlen(target)], false);
  }

  // Otherwise the target may stand anywhere, also behind a host program such as
  // RUNDLL32.EXE, which takes its DLL followed by a comma and the entry point. Only
  // the first occurrence is looked at.
  const char* at = std::strstr(commandLine, target);
  return at != nullptr && EndsCommandWord(at[std::strlen(target)], true);
}

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
  (void)_strupr(target);

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

    NormaliseCommandLine(valueData, dataSize, collapsed);

    if (skipMatching == 0 && CommandLineNamesTarget(valueData, target, shortPath)) {
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
