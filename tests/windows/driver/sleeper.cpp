// A process for the walk to find: it only waits, and ends by itself after a minute
// so that a test that dies half-way leaves nothing running for long.
#include <windows.h>

int main() {
  Sleep(60 * 1000);
  return 0;
}
