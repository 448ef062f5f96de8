#include "driver/toolhelp_api.h"

namespace {

// GetProcAddress gives a generic FARPROC; the detour through void (*)() is the
// conversion between function pointer types that the compiler takes as meant.
template <typename Fn>
Fn ResolveEntryPoint(HMODULE library, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

}  // namespace

ToolhelpApi::ToolhelpApi()
    : library(nullptr),
      module32Next(nullptr),
      module32First(nullptr),
      process32Next(nullptr),
      process32First(nullptr),
      createToolhelp32Snapshot(nullptr) {}

ToolhelpApi::~ToolhelpApi() {
  // Zeroing does not free the library; that is UnloadToolhelpApi's work.
  library = nullptr;
  module32Next = nullptr;
  module32First = nullptr;
  process32Next = nullptr;
  process32First = nullptr;
  createToolhelp32Snapshot = nullptr;
}

bool ToolhelpApi::LoadToolhelpApi() {
  if (library != nullptr) return false;
  // Resolved by name rather than imported, so that the executable's import table
  // does not name the Toolhelp functions.
  library = LoadLibraryA("Kernel32.DLL");
  if (library == nullptr) return false;
  createToolhelp32Snapshot = ResolveEntryPoint<CreateToolhelp32SnapshotFn>(library, "CreateToolhelp32Snapshot");
  process32First = ResolveEntryPoint<Process32Fn>(library, "Process32First");
  process32Next = ResolveEntryPoint<Process32Fn>(library, "Process32Next");
  module32First = ResolveEntryPoint<Module32Fn>(library, "Module32First");
  module32Next = ResolveEntryPoint<Module32Fn>(library, "Module32Next");
  // All or nothing: Module32Next is required like the others, although the walk
  // never calls it.
  if (createToolhelp32Snapshot != nullptr && process32First != nullptr && process32Next != nullptr &&
      module32First != nullptr && module32Next != nullptr) {
    return true;
  }
  (void)UnloadToolhelpApi();
  return false;
}

bool ToolhelpApi::UnloadToolhelpApi() {
  if (library != nullptr) {
    (void)FreeLibrary(library);
    library = nullptr;
    module32Next = nullptr;
    module32First = nullptr;
    process32Next = nullptr;
    process32First = nullptr;
    createToolhelp32Snapshot = nullptr;
  }
  return true;
}
