#include "remedy/image_debugger_cleaner.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr DWORD RegistryBufferSize = 1024;

// Each subkey is named after a program; a Debugger value there makes the loader start
// the named debugger instead of the program, which also serves to keep tools from
// running.
const char ImageOptionsPath[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options";
const char DebuggerValue[] = "Debugger";

// The sample entry that some Windows versions ship as documentation of the key.
const char SampleEntry[] = "Your Image File Name Here without a path";

void DeleteDebuggerValue(HKEY imageOptions, const char* entryName) {
  HKEY entry = nullptr;
  if (RegOpenKeyExA(imageOptions, entryName, 0, KEY_ALL_ACCESS, &entry) != ERROR_SUCCESS) return;

  // The data only tells whether the value exists; neither it nor the type is looked at.
  // Data too long for the buffer (ERROR_MORE_DATA) still shows that the value exists,
  // and a long Debugger value must not escape the clean-up for its length alone.
  BYTE data[RegistryBufferSize];
  std::memset(data, 0, sizeof(data));
  DWORD dataSize = sizeof(data);
  LONG status = RegQueryValueExA(entry, DebuggerValue, nullptr, nullptr, data, &dataSize);
  if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA)
    (void)RegDeleteValueA(entry, DebuggerValue);

  (void)RegCloseKey(entry);
}

}  // namespace

int32_t RemoveImageDebuggers(const char* imagePath) {
  if (imagePath == nullptr) return 0;

  HKEY imageOptions = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ImageOptionsPath, 0, KEY_ALL_ACCESS, &imageOptions) !=
      ERROR_SUCCESS)
    return 1;

  char entryName[RegistryBufferSize];
  // Deleting a value leaves the list of subkeys as it is, so the index simply steps on.
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = RegistryBufferSize;
    FILETIME lastWrite;
    if (RegEnumKeyExA(imageOptions, index, entryName, &nameSize, nullptr, nullptr, nullptr,
                      &lastWrite) != ERROR_SUCCESS)
      break;
    if (_stricmp(entryName, SampleEntry) == 0) continue;
    DeleteDebuggerValue(imageOptions, entryName);
  }

  (void)RegCloseKey(imageOptions);
  return 1;
}
