// Builds without the disk image library (the Windows builds, the 32-bit Linux
// build and Linux hosts without libtsk) cannot read a disk image's file systems,
// so they do not pretend to scan one.
#include <cstdio>

#include "tools/pestkill-scan/sources/disk_image/disk_image_scan.h"
#include "tools/pestkill-scan/report/exit_status.h"

int RunDiskImageScan(const ScanSettings& /*settings*/, const DiskImageRequest& /*request*/, char** /*argv*/) {
  std::fprintf(stderr,
               "pestkill-scan: --image is not available in this build: it needs the disk image "
               "library (libtsk), which a Linux build links where it is installed for its target\n"
               "(not the Windows builds, nor the 32-bit Linux build)\n");
  return ExitError;
}
