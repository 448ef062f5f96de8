#include "driver/whole_image_path.h"

#include <cstring>
#include <cwchar>

namespace {

// The access that suffices for the query from Vista on; where it is refused, the
// older, wider access.
constexpr DWORD QueryLimitedInformation = 0x1000;
constexpr DWORD QueryInformation = PROCESS_QUERY_INFORMATION;

bool IsDrivePath(const wchar_t* path) {
  return ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
         path[1] == L':' && path[2] == L'\\';
}

}  // namespace

QueryFullProcessImageNameWFn ResolveQueryFullProcessImageNameW(HMODULE library) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<QueryFullProcessImageNameWFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "QueryFullProcessImageNameW")));
}

bool ModulePathMayBeCut(const char* modulePath) {
  return modulePath != nullptr && std::strlen(modulePath) >= MAX_PATH - 1;
}

bool ReadWholeImagePath(QueryFullProcessImageNameWFn query, DWORD processId, const char* modulePath,
                        WholeImagePath* out) {
  if (query == nullptr || out == nullptr || !ModulePathMayBeCut(modulePath)) return false;
  HANDLE process = OpenProcess(QueryLimitedInformation, FALSE, processId);
  if (process == nullptr) process = OpenProcess(QueryInformation, FALSE, processId);
  if (process == nullptr) return false;

  wchar_t* whole = out->extended + LongPathPrefixLength;
  DWORD size = WholeImagePathCapacity;
  // Flags 0: the Win32 form of the path (C:\...), not the device form.
  const BOOL asked = query(process, 0, whole, &size);
  (void)CloseHandle(process);
  if (!asked || size == 0 || size >= WholeImagePathCapacity) return false;
  whole[size] = L'\0';
  if (size < MAX_PATH) return false;  // the module path was whole after all

  // A drive path takes the prefix; any other form (a network path) is used as given.
  const wchar_t* extended = whole;
  if (IsDrivePath(whole)) {
    std::wmemcpy(out->extended, L"\\\\?\\", LongPathPrefixLength);
    extended = out->extended;
  }
  if (WideCharToMultiByte(CP_ACP, 0, whole, -1, out->shown, sizeof(out->shown), nullptr, nullptr) == 0)
    return false;
  if (extended != out->extended) std::wmemmove(out->extended, whole, size + 1);
  return true;
}
