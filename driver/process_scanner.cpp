// The walk over the live processes: each process's first module is its own
// executable, and its path is what the dispatch judges.
#include <stdio.h>
#include <string.h>

#include "driver/debug_privilege.h"
#include "driver/image_path.h"
#include "driver/toolhelp_api.h"
#include "driver/whole_image_path.h"

namespace {

// Prints the question, reads one character of the answer and restarts on y or Y.
// Only the first character counts ("yes" restarts too); the rest of the line is
// left unread, and end of input leaves the system running.
void AskForRestart(const ScanSeam& seam) {
  printf("\nDo you want to restart your computer now? (y/n) : ");
  (void)fflush(stdout);
  const int answer = getc(stdin);
  if (answer == 'y' || answer == 'Y') (void)seam.restartComputer();
}

Module32WideFn ResolveModule32FirstW(HMODULE library) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<Module32WideFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(library, "Module32FirstW")));
}

// The module's path in wide characters, for an 8-bit path that does not name its file
// because the code page could not spell some of its characters (the module list puts
// a question mark or a look-alike letter in their place): the same first module of
// the same snapshot, read again with the wide entry point. Null when the code page
// spells the path, or when no wide path can be had; the 8-bit road then runs as for
// any path.
const wchar_t* WidePathOf(Module32WideFn module32FirstW, HANDLE modules, const MODULEENTRY32& module,
                          MODULEENTRY32W* wideModule) {
  if (module32FirstW == nullptr) return nullptr;
  memset(wideModule, 0, sizeof(*wideModule));
  wideModule->dwSize = sizeof(MODULEENTRY32W);
  if (!module32FirstW(modules, wideModule)) return nullptr;
  // The same module, or none: a snapshot gives its modules in one order.
  if (wideModule->hModule != module.hModule || wideModule->szExePath[0] == L'\0') return nullptr;
  wideModule->szExePath[MAX_PATH - 1] = L'\0';
  if (CodePageSpells(module.szExePath, wideModule->szExePath)) return nullptr;
  return wideModule->szExePath;
}

// The whole path of an image whose module path was cut. Far too large for the stack of
// the walk, and needed by one process at a time.
WholeImagePath wholeImagePath;

}  // namespace

ScanOutcome ToolhelpApi::ScanProcesses(const ScanSeam& seam) const {
  if (createToolhelp32Snapshot == nullptr || process32First == nullptr || process32Next == nullptr ||
      module32First == nullptr || module32Next == nullptr) {
    return ScanNotStarted;
  }

  SetLastError(0);
  const HANDLE processes = createToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (processes == INVALID_HANDLE_VALUE) return ScanNotStarted;

  PROCESSENTRY32 process;
  memset(&process, 0, sizeof(process));
  process.dwSize = sizeof(PROCESSENTRY32);
  SetLastError(0);
  if (!process32First(processes, &process)) {
    CloseHandle(processes);
    return ScanNotStarted;
  }

  // Resolved from the same library as the entry points above; without it every path
  // takes the 8-bit road.
  const Module32WideFn module32FirstW = ResolveModule32FirstW(library);
  // Where it is missing (Windows XP), a cut path takes the road of any other.
  const QueryFullProcessImageNameWFn queryWholePath = ResolveQueryFullProcessImageNameW(library);
  bool threatHandled = false;
  do {
    // Process id 0 is not skipped: its module snapshot describes the calling process.
    const HANDLE modules = createToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID);
    if (modules != INVALID_HANDLE_VALUE) {
      MODULEENTRY32 module;
      memset(&module, 0, sizeof(module));
      module.dwSize = sizeof(MODULEENTRY32);
      if (module32First(modules, &module)) {
        MODULEENTRY32W wideModule;
        const char* path = module.szExePath;
        const wchar_t* widePath = WidePathOf(module32FirstW, modules, module, &wideModule);
        // A cut path names another file or none: the process's whole image path is
        // judged, removed and shown instead, through the wide road.
        if (ReadWholeImagePath(queryWholePath, process.th32ProcessID, module.szExePath, &wholeImagePath)) {
          path = wholeImagePath.shown;
          widePath = wholeImagePath.extended;
        }
        int32_t kind = 0;
        if (seam.detectThreat(path, widePath, &kind)) {
          threatHandled = true;
          printf("For proper cleanup system restart is required.\n");
          (void)seam.removeThreat(path, widePath, process.th32ProcessID, kind);
          AskForRestart(seam);
        }
      }
      CloseHandle(modules);
      if (threatHandled) {
        CloseHandle(processes);
        return ThreatHandled;
      }
    }
    process.dwSize = sizeof(PROCESSENTRY32);
  } while (process32Next(processes, &process));

  CloseHandle(processes);
  return NoThreatFound;
}

ScanOutcome ToolhelpApi::ScanWithDebugPrivilege(const ScanSeam& seam) const {
  HANDLE token = INVALID_HANDLE_VALUE;
  TOKEN_PRIVILEGES privileges;
  memset(&privileges, 0, sizeof(privileges));
  const bool enabled = EnableDebugPrivilege(&token, &privileges);
  // Without the privilege the walk still runs, with the access the process has.
  const ScanOutcome outcome = ScanProcesses(seam);
  // A failure to remove the privilege is ignored; the token is closed all the same.
  if (enabled) (void)DropDebugPrivilege(token, &privileges);
  return outcome;
}
