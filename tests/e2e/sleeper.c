/* A harmless stand-in for a running program: it does nothing but wait.
 *
 *   sleeper [SECONDS [FILE]]
 *
 * The end-to-end tests start it from a path inside a throwaway Wine prefix and then
 * put another file at that path, so that the process list names a file whose
 * contents the test chose. It exits by itself after SECONDS (default 600), so a
 * test that dies half-way leaves nothing behind for long.
 *
 * With FILE it also keeps that file open (named in wide characters, so that a path
 * the code page cannot spell is held too) for reading without sharing deletion, as
 * the loader holds the image of a running program on Windows: deleting the file
 * then fails, and a remover has to schedule the deletion for the next restart.
 *
 * It attaches to the desktop, which keeps Wine's desktop process running for as
 * long as the sleeper does. Without that, the desktop process stops when idle and
 * starts again with the next program, and each start rewrites display-device keys
 * in the registry, which a test comparing the registry before and after a scan
 * would mistake for a change made by the scan. */
#include <stdlib.h>
#include <windows.h>
#include <shellapi.h>

int main(int argc, char** argv) {
  unsigned long seconds = 600;
  if (argc > 1) {
    seconds = strtoul(argv[1], NULL, 10);
  }
  HANDLE held = INVALID_HANDLE_VALUE;
  if (argc > 2) {
    int wideCount = 0;
    LPWSTR* wideArgs = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wideArgs == NULL || wideCount < 3) {
      return 2;
    }
    held = CreateFileW(wideArgs[2], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
    (void)LocalFree(wideArgs);
    if (held == INVALID_HANDLE_VALUE) {
      return 2;
    }
  }
  (void)GetDesktopWindow();
  Sleep((DWORD)(seconds * 1000UL));
  if (held != INVALID_HANDLE_VALUE) {
    (void)CloseHandle(held);
  }
  return 0;
}
