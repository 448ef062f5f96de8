// The scan of a mounted Windows system volume: its files as -r scans them, and the
// Winlogon impostor rule over the Run keys of its registry hives; with --clean the
// clean-up that the live tool does, carried out on the volume.
#pragma once

struct ScanOptions;

// Runs the whole scan and returns the exit status, by the same rules as a scan of
// PATH operands. A PATH or --file-list given besides the volume is a usage error.
int RunWindowsRootScan(const ScanOptions& options);
