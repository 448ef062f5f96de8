#include "remedy/process_control.h"

#include <windows.h>

// The access mask of PROCESS_ALL_ACCESS in the headers before Vista; the larger
// mask of the later headers is refused by XP.
constexpr DWORD ProcessAllAccessXp = 0x1F0FFF;

void TerminateProcessById(uint32_t processId) {
  HANDLE process = OpenProcess(ProcessAllAccessXp, TRUE, processId);
  if (process == nullptr) return;
  // The process ends with the code the system reports for it (STILL_ACTIVE while it
  // runs, 0 if the query fails). Nothing waits for it to be gone.
  DWORD exitCode = 0;
  (void)GetExitCodeProcess(process, &exitCode);
  (void)TerminateProcess(process, exitCode);
  CloseHandle(process);
}

FileRemoval RemoveFile(const char* path) {
  // Read-only, hidden and system attributes would stand in the way of the deletion.
  (void)SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileA(path)) return FileRemovedNow;
  return MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? FileRemovedAtRestart : FileNotRemoved;
}

FileRemoval RemoveFileWide(const wchar_t* path) {
  (void)SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(path)) return FileRemovedNow;
  return MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? FileRemovedAtRestart : FileNotRemoved;
}

bool RestartComputer() {
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token) == 1) {
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    (void)LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    (void)AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
  }
  // A polite restart (no EWX_FORCE): the system may still refuse it.
  return ExitWindowsEx(EWX_REBOOT, 0) != 0;
}
