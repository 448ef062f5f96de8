// Where a volume process writes its report while an earlier volume's report is
// still being written: files of its own, unlinked from the start (they vanish with
// the last descriptor, also when the scanner is killed), copied to standard output
// and error once every earlier volume is reported. A report on disk, not in
// memory: a volume of millions of files listed with -a costs no memory here.
//
// When standard output and standard error are one file (2>&1, a terminal), both
// streams go to one capture file through one open description, so its lines keep
// the order in which they were written.
#pragma once

#include <string>

#include "tools/pestkill-scan/report/scan_report.h"

struct VolumeCapture {
  int out = -1;  // the volume's standard output
  int err = -1;  // its standard error: out itself when both are one file
};

// Two unlinked files (one when standard output and error are one file) in
// $TMPDIR, else /tmp; false with the reason when they cannot be made.
bool OpenVolumeCapture(VolumeCapture* capture, std::string* failure);

// In the volume's process: its standard output and error become the capture's.
bool WriteToVolumeCapture(const VolumeCapture& capture);

// Copies what the volume wrote to standard output (as one record of report: a
// failed write stops the scan) and to standard error; false when a capture file
// could not be read back whole.
bool CopyVolumeCapture(ScanReport* report, const VolumeCapture& capture);

void CloseVolumeCapture(VolumeCapture* capture);
