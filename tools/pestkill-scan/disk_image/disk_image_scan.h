// The scan of disk images without mounting them: every volume of the image's
// partition table (or the image as one volume), every file of each volume judged
// by the file signatures as -r judges a tree, read through the disk image library
// and never written.
#pragma once

#include <cstdio>

struct ScanOptions;

// Runs the scan of the PATH operands as disk images and returns the exit status,
// by the same rules as a scan of PATH operands. argv: the command line as given,
// for the scanner that hands the scan to the program that links the disk image
// library (disk_image_handover.cpp).
int RunDiskImageScan(const ScanOptions& options, char** argv);

void PrintDiskImageUsage(FILE* stream);
