/* Prints the image path of every live process, one per line, in the order of the
 * system's process snapshot: the path is the szExePath of the first entry of the
 * process's module snapshot, the same field the scanner reports. Processes whose
 * modules cannot be read are printed as "-" so the order stays visible. A second
 * column holds the same module's wide path in UTF-8, which names files whose names
 * the code page cannot spell ("-" too when it cannot be read).
 *
 * The end-to-end tests use it to learn which of two planted processes the walk
 * meets first, and that a process still runs after a scan. */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <tlhelp32.h>

int main(void) {
  HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (processes == INVALID_HANDLE_VALUE) {
    return 1;
  }
  PROCESSENTRY32 process;
  process.dwSize = sizeof(process);
  BOOL more = Process32First(processes, &process);
  while (more) {
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process.th32ProcessID);
    const char* path = "-";
    char widePath[4 * MAX_PATH] = "-";
    MODULEENTRY32 module;
    MODULEENTRY32W wideModule;
    if (modules != INVALID_HANDLE_VALUE) {
      module.dwSize = sizeof(module);
      if (Module32First(modules, &module)) {
        path = module.szExePath;
      }
      wideModule.dwSize = sizeof(wideModule);
      if (Module32FirstW(modules, &wideModule) &&
          WideCharToMultiByte(CP_UTF8, 0, wideModule.szExePath, -1, widePath, sizeof(widePath), NULL,
                              NULL) == 0) {
        strcpy(widePath, "-");
      }
    }
    printf("%lu\t%s\t%s\n", (unsigned long)process.th32ProcessID, path, widePath);
    if (modules != INVALID_HANDLE_VALUE) {
      (void)CloseHandle(modules);
    }
    process.dwSize = sizeof(process);
    more = Process32Next(processes, &process);
  }
  (void)CloseHandle(processes);
  return 0;
}
