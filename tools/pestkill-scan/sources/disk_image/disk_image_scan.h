// The scan of disk images without mounting them: every volume of the image's
// partition table (or the image as one volume), every file of each volume judged
// by the file signatures as -r judges a tree, read through the disk image library
// and never written.
#pragma once

#include <cstdio>
#include <vector>

#include "tools/pestkill-scan/judgement/scan_settings.h"

struct DiskImageRequest {
  std::vector<const char*> images;  // the PATH operands, in the order given
  int volumeSeconds = 0;            // --volume-time-limit (0: the default)
};

// Runs the scan of the images and returns the exit status,
// by the same rules as a scan of PATH operands. argv: the command line as given,
// for the scanner that hands the scan to the program that links the disk image
// library (disk_image_handover.cpp).
int RunDiskImageScan(const ScanSettings& settings, const DiskImageRequest& request, char** argv);

void PrintDiskImageUsage(FILE* stream);
