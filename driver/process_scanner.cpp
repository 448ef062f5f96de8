// The walk over the live processes: each process's first module is its own
// executable, and its path is what the dispatch judges.
#include <stdio.h>
#include <string.h>

#include "driver/debug_privilege.h"
#include "driver/toolhelp_api.h"

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

  bool threatHandled = false;
  do {
    // Process id 0 is not skipped: its module snapshot describes the calling process.
    const HANDLE modules = createToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID);
    if (modules != INVALID_HANDLE_VALUE) {
      MODULEENTRY32 module;
      memset(&module, 0, sizeof(module));
      module.dwSize = sizeof(MODULEENTRY32);
      if (module32First(modules, &module)) {
        int32_t kind = 0;
        if (seam.detectThreat(module.szExePath, &kind)) {
          threatHandled = true;
          printf("For proper cleanup system restart is required.\n");
          (void)seam.removeThreat(module.szExePath, process.th32ProcessID, kind);
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
