// The process walk with nothing else: one process snapshot and, for each process,
// a module snapshot and its first module entry, the same Toolhelp calls that
// pestkill.exe makes before it judges a file. No file is opened. scripts/bench times
// it beside a full pestkill.exe scan in the same Wine prefix.
//   bare_walk    prints the number of processes whose first module was read
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>

int main() {
  HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (processes == INVALID_HANDLE_VALUE) return 1;
  PROCESSENTRY32 process;
  process.dwSize = sizeof process;
  unsigned modulesRead = 0;
  for (BOOL more = Process32First(processes, &process); more; more = Process32Next(processes, &process)) {
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID);
    if (modules == INVALID_HANDLE_VALUE) continue;
    MODULEENTRY32 module;
    ZeroMemory(&module, sizeof module);
    module.dwSize = sizeof module;
    if (Module32First(modules, &module)) ++modulesRead;
    (void)CloseHandle(modules);
    process.dwSize = sizeof process;
  }
  (void)CloseHandle(processes);
  std::printf("%u\n", modulesRead);
  return 0;
}
