#include "remedy/run_key_scanner.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "remedy/removal_record.h"
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

// Which file a local drive path names: the volume's serial number and the file's
// index, from a handle opened for its attributes only, with full sharing, so that
// neither a running image nor any other program's open file is disturbed. Nothing
// is created, read or run. A drive that is a network connection is not asked: a Run
// value must not make this tool reach another machine.
template <typename Text>
bool IdentifyLocalFile(const typename Text::Unit* path, RunDataFileId* file) {
  using Unit = typename Text::Unit;
  if (path == nullptr) return false;
  // The image path itself may come in \\?\ form; a Run value's paths never do.
  const Unit* drive = path;
  if (drive[0] == Unit('\\') && drive[1] == Unit('\\') && drive[2] == Unit('?') && drive[3] == Unit('\\'))
    drive += 4;
  if (drive[0] == Unit(0) || drive[1] != Unit(':')) return false;
  const Unit root[4] = {drive[0], Unit(':'), Unit('\\'), Unit(0)};
  if (Text::DriveType(root) == DRIVE_REMOTE) return false;

  // An empty removable drive answers with an error, not with a dialogue box.
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HANDLE handle = Text::OpenForAttributes(path);
  (void)SetErrorMode(previousMode);
  if (handle == INVALID_HANDLE_VALUE) return false;

  BY_HANDLE_FILE_INFORMATION information;
  const bool told = GetFileInformationByHandle(handle, &information) != 0;
  (void)CloseHandle(handle);
  // A directory opens only with backup semantics, which are not asked for; an index
  // of 0 tells nothing apart.
  if (!told || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  const uint64_t index = (uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  if (index == 0) return false;
  file->volume = information.dwVolumeSerialNumber;
  file->index = index;
  return true;
}

// The system's own calls on each road: the C runtime's upper-casing and comparison
// in its default locale, the file system's short form, and the registry's ANSI or
// wide entry points. Text that the code page cannot spell reaches the ANSI calls as
// question marks; the wide road sees it as it is.
struct AnsiText {
  using Unit = char;
  static void UpperCase(char* text) { (void)_strupr(text); }
  static bool EqualIgnoringCase(const char* left, const char* right) {
    return _stricmp(left, right) == 0;
  }
  static size_t ShortForm(const char* path, char* out, size_t capacity, void*) {
    return GetShortPathNameA(path, out, static_cast<DWORD>(capacity));
  }
  static bool IdentifyFile(const char* path, RunDataFileId* file, void*) {
    return IdentifyLocalFile<AnsiText>(path, file);
  }
  static UINT DriveType(const char* root) { return GetDriveTypeA(root); }
  static HANDLE OpenForAttributes(const char* path) {
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
  }
  static size_t ExpandStrings(const char* text, char* out, size_t capacity, void*) {
    return ExpandEnvironmentStringsA(text, out, static_cast<DWORD>(capacity));
  }
  static LONG OpenKey(HKEY root, const char* path, HKEY* key) {
    return RegOpenKeyExA(root, path, 0, FullAccess, key);
  }
  static LONG EnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* type,
                        BYTE* data, DWORD* dataSize) {
    return RegEnumValueA(key, index, name, nameSize, nullptr, type, data, dataSize);
  }
  static LONG DeleteValue(HKEY key, const char* name) { return RegDeleteValueA(key, name); }
};

struct WideText {
  using Unit = wchar_t;
  // As the 8-bit road's runtime calls do it: only a-z have a case.
  static void UpperCase(wchar_t* text) { UpperCaseAsciiLetters(text); }
  static bool EqualIgnoringCase(const wchar_t* left, const wchar_t* right) {
    return EqualIgnoringAsciiCase(left, right);
  }
  static size_t ShortForm(const wchar_t* path, wchar_t* out, size_t capacity, void*) {
    return GetShortPathNameW(path, out, static_cast<DWORD>(capacity));
  }
  static bool IdentifyFile(const wchar_t* path, RunDataFileId* file, void*) {
    return IdentifyLocalFile<WideText>(path, file);
  }
  static UINT DriveType(const wchar_t* root) { return GetDriveTypeW(root); }
  static HANDLE OpenForAttributes(const wchar_t* path) {
    return CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
  }
  static size_t ExpandStrings(const wchar_t* text, wchar_t* out, size_t capacity, void*) {
    return ExpandEnvironmentStringsW(text, out, static_cast<DWORD>(capacity));
  }
  static LONG OpenKey(HKEY root, const wchar_t* path, HKEY* key) {
    return RegOpenKeyExW(root, path, 0, FullAccess, key);
  }
  static LONG EnumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameSize, DWORD* type,
                        BYTE* data, DWORD* dataSize) {
    return RegEnumValueW(key, index, name, nameSize, nullptr, type, data, dataSize);
  }
  static LONG DeleteValue(HKEY key, const wchar_t* name) { return RegDeleteValueW(key, name); }
};

template <typename Text>
const RunDataCalls<typename Text::Unit> RunDataCallsOf = {
    Text::UpperCase, Text::EqualIgnoringCase, Text::ShortForm, nullptr,
    Text::IdentifyFile, Text::ExpandStrings, nullptr};

// Appends ASCII text (the key paths) to a terminated text of either width.
template <typename Unit>
void AppendAscii(Unit* text, const char* ascii) {
  Unit* end = text + std::char_traits<Unit>::length(text);
  while ((*end++ = static_cast<Unit>(*ascii++)) != Unit(0)) {
  }
}

template <typename Text>
int32_t WalkRunKey(const typename Text::Unit* targetPath, uint16_t key, uint8_t hive,
                   int32_t skipMatching, int32_t deleteFlag, int32_t* found) {
  using Unit = typename Text::Unit;
  if (targetPath == nullptr || found == nullptr) return 0;

  // Names and data in units of the road: a value the ANSI road can hold whole, the
  // wide road can hold whole too.
  Unit target[RegistryBufferSize];
  Unit keyPath[RegistryBufferSize];
  Unit valueName[RegistryBufferSize];
  Unit valueData[RegistryBufferSize];
  Unit collapsed[RegistryBufferSize];
  Unit shortPath[RegistryBufferSize];
  Unit writtenData[RegistryBufferSize];  // an expandable string as written
  const RunDataCalls<Unit>& calls = RunDataCallsOf<Text>;

  // Callers pass paths of at most MAX_PATH units; a longer one is refused rather than
  // cut, since a cut target could match (and delete) values that start other files.
  size_t targetLength = std::char_traits<Unit>::length(targetPath);
  if (targetLength >= RegistryBufferSize) return 0;
  std::memcpy(target, targetPath, (targetLength + 1) * sizeof(Unit));
  calls.upperCase(target);

  HiveRoot hiveRoot;
  const char* keyName = LookUpKeyName(key);
  if (!LookUpHive(hive, &hiveRoot) || keyName == nullptr) return 0;

  // A value may name the target's file in another spelling; which file it is, is asked
  // once per walk. A file that cannot be told apart is matched by its text alone.
  RunDataFileId targetIdentity;
  const RunDataFileId* targetFile =
      Text::IdentifyFile(target, &targetIdentity, nullptr) ? &targetIdentity : nullptr;

  keyPath[0] = Unit(0);
  AppendAscii(keyPath, hiveRoot.basePath);
  AppendAscii(keyPath, keyName);

  HKEY runKey = nullptr;
  if (Text::OpenKey(hiveRoot.root, keyPath, &runKey) != ERROR_SUCCESS) return 0;

  std::memset(valueName, 0, sizeof(valueName));
  std::memset(valueData, 0, sizeof(valueData));
  DWORD index = 0;
  for (;;) {
    DWORD nameSize = RegistryBufferSize;  // in units
    DWORD dataSize = sizeof(valueData);   // in bytes
    DWORD type = REG_NONE;                // asked only to expand what the shell expands
    LONG status = Text::EnumValue(runKey, index, valueName, &nameSize, &type,
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

    // An odd byte at the end of wide data is a unit of its own, and cut like one.
    const size_t dataUnits = (dataSize + sizeof(Unit) - 1) / sizeof(Unit);
    // An expandable string starts what its expansion names, as the shell expands it;
    // what its text names as written still counts too.
    const bool expandable = type == REG_EXPAND_SZ;
    if (expandable) std::memcpy(writtenData, valueData, sizeof(valueData));
    const size_t expandedUnits =
        expandable ? ExpandRunData(valueData, RegistryBufferSize, dataUnits, collapsed, calls) : dataUnits;
    NormaliseRunData(valueData, RegistryBufferSize, expandedUnits, collapsed, calls);

    bool matches = skipMatching == MatchEachValue &&
                   RunDataStartsTarget(valueData, target, targetFile, shortPath, RegistryBufferSize, calls);
    if (!matches && expandable && skipMatching == MatchEachValue) {
      NormaliseRunData(writtenData, RegistryBufferSize, dataUnits, collapsed, calls);
      matches = RunDataStartsTarget(writtenData, target, targetFile, shortPath, RegistryBufferSize, calls);
    }
    if (matches) {
      *found = 1;
      if (deleteFlag == DeleteMatches) RecordValueBeforeDeletion(hiveRoot.root, keyPath, runKey, valueName);
      if (deleteFlag == DeleteMatches && Text::DeleteValue(runKey, valueName) == ERROR_SUCCESS) {
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

template <typename Text>
int32_t CleanRunKeysOf(const typename Text::Unit* targetPath, uint16_t key, int32_t skipMatching) {
  int32_t found = 0;
  (void)WalkRunKey<Text>(targetPath, key, LocalMachineHive, skipMatching, DeleteMatches, &found);
  (void)WalkRunKey<Text>(targetPath, key, CurrentUserHive, skipMatching, DeleteMatches, &found);
  (void)WalkRunKey<Text>(targetPath, key, DefaultUserHive, skipMatching, DeleteMatches, &found);
  return 1;
}

}  // namespace

int32_t ScanRunKey(const char* targetPath, uint16_t key, uint8_t hive, int32_t skipMatching,
                   int32_t deleteFlag, int32_t* found) {
  return WalkRunKey<AnsiText>(targetPath, key, hive, skipMatching, deleteFlag, found);
}

int32_t ScanRunKeyWide(const wchar_t* targetPath, uint16_t key, uint8_t hive, int32_t skipMatching,
                       int32_t deleteFlag, int32_t* found) {
  return WalkRunKey<WideText>(targetPath, key, hive, skipMatching, deleteFlag, found);
}

int32_t CleanRunKeys(const char* targetPath, uint16_t key, int32_t skipMatching) {
  return CleanRunKeysOf<AnsiText>(targetPath, key, skipMatching);
}

int32_t CleanRunKeysWide(const wchar_t* targetPath, uint16_t key, int32_t skipMatching) {
  return CleanRunKeysOf<WideText>(targetPath, key, skipMatching);
}
