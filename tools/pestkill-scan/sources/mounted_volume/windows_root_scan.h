// The scan of a mounted Windows system volume: its files as -r scans them, and the
// Winlogon impostor rule over the Run keys of its registry hives; with --clean the
// clean-up that the live tool does, carried out on the volume.
#pragma once

#include "tools/pestkill-scan/judgement/scan_settings.h"
#include "tools/pestkill-scan/sources/mounted_volume/windows_root_options.h"

// Runs the whole scan of volume.root and returns the exit status, by the same
// rules as a scan of PATH operands. oneFileSystem: -x, the walk stays on the
// volume's file system.
int RunWindowsRootScan(const ScanSettings& settings, const WindowsRootOptions& volume, bool oneFileSystem);
