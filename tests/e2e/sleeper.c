/* A harmless stand-in for a running program: it does nothing but wait.
 *
 * The end-to-end tests start it from a path inside a throwaway Wine prefix and then
 * put another file at that path, so that the process list names a file whose
 * contents the test chose. It exits by itself after the given number of seconds
 * (default 600), so a test that dies half-way leaves nothing behind for long.
 *
 * It attaches to the desktop, which keeps Wine's desktop process running for as
 * long as the sleeper does. Without that, the desktop process stops when idle and
 * starts again with the next program, and each start rewrites display-device keys
 * in the registry, which a test comparing the registry before and after a scan
 * would mistake for a change made by the scan. */
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv) {
  unsigned long seconds = 600;
  if (argc > 1) {
    seconds = strtoul(argv[1], NULL, 10);
  }
  (void)GetDesktopWindow();
  Sleep((DWORD)(seconds * 1000UL));
  return 0;
}
