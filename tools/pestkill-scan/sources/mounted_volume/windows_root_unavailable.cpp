// Builds without the hive library (the Windows builds, the 32-bit Linux build and
// Linux hosts without libhivex) cannot read an offline registry, so they do not
// pretend to scan a volume.
#include <cstdio>

#include "tools/pestkill-scan/report/exit_status.h"
#include "tools/pestkill-scan/sources/mounted_volume/windows_root_scan.h"

int RunWindowsRootScan(const ScanSettings& /*settings*/, const WindowsRootOptions& /*volume*/, bool /*oneFileSystem*/) {
  std::fprintf(stderr,
               "pestkill-scan: --windows-root is not available in this build: it needs the "
               "registry hive library (libhivex), which a Linux build links where it is installed for\n"
               "its target (not the Windows builds, nor the 32-bit Linux build)\n");
  return ExitError;
}
