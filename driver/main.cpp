// The console frame around the process scan: banner, scan, closing lines, key wait.
// No arguments are read and the exit status is 0 on every path.
#include <conio.h>
#include <stdio.h>

#include "driver/toolhelp_api.h"

int main() {
  ToolhelpApi toolhelp;

  // Every line must be on the console when printf returns: the restart question is
  // answered while the program waits on standard input.
  (void)setvbuf(stdout, nullptr, _IONBF, 0);

  printf("\nUtility to remove Trojan.Kestrelon.Gen.\n");
  printf("Copyright (C) 2026 the pestkill authors\n");
  printf("\nScanning Memory...\n\n");

  if (!toolhelp.LoadToolhelpApi()) return 0;
  const ScanOutcome outcome = toolhelp.ScanWithDebugPrivilege();
  (void)toolhelp.UnloadToolhelpApi();
  if (outcome == ScanNotStarted) return 0;

  if (outcome != ThreatHandled) printf("No malware found.\n");
  printf("\nScanning Completed.\n");
  // Straight from the console, also when standard input is redirected.
  (void)_getch();
  return 0;
}
