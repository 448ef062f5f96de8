// Each volume of an image is scanned in a child process of its own, so that a
// fault or a hang inside the disk image library on one volume (a damaged or
// hostile file system) ends that volume's scan alone: the child writes its lines
// straight to standard output and error as they come, hands its counts back
// through a pipe when it is done, and is ended when it runs past the time limit.
// What it reported before it failed stands; the volume gets one ERROR line.
#pragma once

#include <string>

#include "tools/pestkill-scan/report/scan_report.h"

struct VolumeProcessLimits {
  int seconds = 3600;  // the time one volume's scan may take, from its start
};

// In the child, after each line: its counts so far, which stand if it fails later
// (a detection reported before a fault still sets the exit status).
void PublishVolumeCounts(const ScanReport& report);

// Runs scan(context) in a child process with report as it stands; afterwards
// report holds the child's counts and output state; when the child did not
// finish, the counts it published and its failure as an error of volumeName.
void ScanInVolumeProcess(ScanReport* report, const std::string& volumeName, const VolumeProcessLimits& limits,
                         void (*scan)(void* context), void* context);
