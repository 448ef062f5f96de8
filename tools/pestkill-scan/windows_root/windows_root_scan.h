// The scan of a mounted Windows system volume: its files as -r scans them, and the
// Winlogon impostor rule over the Run keys of its registry hives; with --clean the
// clean-up that the live tool does, carried out on the volume.
#pragma once

struct ScanOptions;

// Runs the whole scan and returns the exit status. extraPaths is how many PATH
// operands were given besides the volume (any is a usage error).
int RunWindowsRootScan(const ScanOptions& options, int extraPaths);
