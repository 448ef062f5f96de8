// The Winlogon impostor rule on a mounted volume: a file whose name, cut at its
// first dot, is Winlogon (ignoring case), that does not lie in the system directory,
// and that a value of the Run key of HKLM or of any user's HKCU starts.
#pragma once

#include <string>
#include <vector>

#include "remedy/run_data_match.h"
#include "tools/pestkill-scan/registry_rule/volume_registry.h"

// windowsPath is the file's long path on the volume ("C:\..."). On true,
// *upperTarget is the upper-cased path the Run values were compared with.
bool IsOfflineWinlogonImpostor(const VolumeRegistry& registry, const std::u16string& windowsPath,
                               const RunDataCalls<char16_t>& calls, std::u16string* upperTarget);

struct RunValueMatch {
  size_t hive;   // index into VolumeRegistry::hives
  size_t value;  // index into that hive's runValues
};

// Every Run value of the machine and user hives that starts upperTarget, and of
// HKU\.DEFAULT too when withDefaultUser is set (the clean-up cleans it, the
// detection does not consult it).
std::vector<RunValueMatch> FindStartingRunValues(const VolumeRegistry& registry, const std::u16string& upperTarget,
                                                 bool withDefaultUser, const RunDataCalls<char16_t>& calls);
