#include "remedy/image_debugger_cleaner.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "remedy/removal_record.h"
#include "remedy/run_data_match.h"

namespace {

constexpr DWORD RegistryBufferSize = 1024;

// Each subkey is named after a program; a Debugger value there makes the loader start
// the named debugger instead of the program, which also serves to keep tools from
// running.
const char ImageOptionsPath[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options";

// The sample entry that some Windows versions ship as documentation of the key.
const char SampleEntry[] = "Your Image File Name Here without a path";

// The calls of each road: the ANSI forms for entry names the code page spells, the
// wide forms for the others (a name such as тест.exe reaches the ANSI calls as
// question marks, which open no entry).
struct AnsiNames {
  using Unit = char;
  static constexpr const char* DebuggerValue = "Debugger";
  static LONG Open(HKEY parent, const char* name, HKEY* key) {
    return RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, key);
  }
  static LONG Query(HKEY key, const char* name, BYTE* data, DWORD* size) {
    return RegQueryValueExA(key, name, nullptr, nullptr, data, size);
  }
  static LONG Delete(HKEY key, const char* name) { return RegDeleteValueA(key, name); }
};

struct WideNames {
  using Unit = wchar_t;
  static constexpr const wchar_t* DebuggerValue = L"Debugger";
  static LONG Open(HKEY parent, const wchar_t* name, HKEY* key) {
    return RegOpenKeyExW(parent, name, 0, KEY_ALL_ACCESS, key);
  }
  static LONG Query(HKEY key, const wchar_t* name, BYTE* data, DWORD* size) {
    return RegQueryValueExW(key, name, nullptr, nullptr, data, size);
  }
  static LONG Delete(HKEY key, const wchar_t* name) { return RegDeleteValueW(key, name); }
};

// The entry's path under HKEY_LOCAL_MACHINE, for the record of a deleted value.
template <typename Unit>
bool EntryKeyPath(const Unit* entryName, Unit* out, size_t capacity) {
  const size_t prefix = sizeof(ImageOptionsPath) - 1;
  size_t nameLength = 0;
  while (entryName[nameLength] != Unit(0)) ++nameLength;
  if (prefix + 1 + nameLength >= capacity) return false;
  for (size_t i = 0; i < prefix; ++i) out[i] = static_cast<Unit>(ImageOptionsPath[i]);
  out[prefix] = Unit('\\');
  for (size_t i = 0; i <= nameLength; ++i) out[prefix + 1 + i] = entryName[i];
  return true;
}

template <typename Names>
void DeleteDebuggerValue(HKEY imageOptions, const typename Names::Unit* entryName) {
  using Unit = typename Names::Unit;
  HKEY entry = nullptr;
  if (Names::Open(imageOptions, entryName, &entry) != ERROR_SUCCESS) return;

  // The data only tells whether the value exists; neither it nor the type is looked at.
  // Data too long for the buffer (ERROR_MORE_DATA) still shows that the value exists,
  // and a long Debugger value must not escape the clean-up for its length alone.
  BYTE data[RegistryBufferSize];
  std::memset(data, 0, sizeof(data));
  DWORD dataSize = sizeof(data);
  LONG status = Names::Query(entry, Names::DebuggerValue, data, &dataSize);
  if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    Unit entryPath[2 * RegistryBufferSize];
    if (EntryKeyPath(entryName, entryPath, sizeof(entryPath) / sizeof(Unit)))
      RecordValueBeforeDeletion(HKEY_LOCAL_MACHINE, entryPath, entry, Names::DebuggerValue);
    (void)Names::Delete(entry, Names::DebuggerValue);
  }

  (void)RegCloseKey(entry);
}

// The wide name of the entry at index, when the code page does not spell it: the ANSI
// name does not read back as the wide one. Null when it does, or when there is no wide
// name to be had; the ANSI road then runs as for any entry.
const wchar_t* UnspeltEntryName(HKEY imageOptions, DWORD index, const char* ansiName, wchar_t* wideName) {
  DWORD nameSize = RegistryBufferSize;
  if (RegEnumKeyExW(imageOptions, index, wideName, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
      ERROR_SUCCESS)
    return nullptr;
  wchar_t readBack[RegistryBufferSize];
  if (MultiByteToWideChar(CP_ACP, 0, ansiName, -1, readBack, RegistryBufferSize) != 0 &&
      std::wcscmp(readBack, wideName) == 0)
    return nullptr;
  return wideName;
}

bool IsSampleEntry(const wchar_t* name) {
  wchar_t sample[sizeof(SampleEntry)];
  for (size_t i = 0; i < sizeof(SampleEntry); ++i) sample[i] = static_cast<wchar_t>(SampleEntry[i]);
  return EqualIgnoringAsciiCase(name, sample);
}

}  // namespace

int32_t RemoveImageDebuggers(const char* imagePath) {
  if (imagePath == nullptr) return 0;

  HKEY imageOptions = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ImageOptionsPath, 0, KEY_ALL_ACCESS, &imageOptions) !=
      ERROR_SUCCESS)
    return 1;

  char entryName[RegistryBufferSize];
  wchar_t wideEntryName[RegistryBufferSize];
  // Deleting a value leaves the list of subkeys as it is, so the index simply steps on.
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = RegistryBufferSize;
    FILETIME lastWrite;
    if (RegEnumKeyExA(imageOptions, index, entryName, &nameSize, nullptr, nullptr, nullptr,
                      &lastWrite) != ERROR_SUCCESS)
      break;
    // Both enumerations give the subkeys in the same order, so the index names the same
    // entry in both.
    const wchar_t* unspelt = UnspeltEntryName(imageOptions, index, entryName, wideEntryName);
    if (unspelt != nullptr) {
      if (!IsSampleEntry(unspelt)) DeleteDebuggerValue<WideNames>(imageOptions, unspelt);
      continue;
    }
    if (_stricmp(entryName, SampleEntry) == 0) continue;
    DeleteDebuggerValue<AnsiNames>(imageOptions, entryName);
  }

  (void)RegCloseKey(imageOptions);
  return 1;
}
