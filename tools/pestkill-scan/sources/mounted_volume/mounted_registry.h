// The registry of a Windows volume mounted on this machine: its hives found below
// the mount point by name, ignoring case as Windows names them.
#pragma once

#include <string>

#include "remedy/run_data_match.h"
#include "tools/pestkill-scan/registry_rule/volume_registry.h"

// Finds and reads every hive of the volume at root. Expandable Run values are
// expanded with the system's variables and, in a user's hive, that user's profile
// folders (see volume_environment.h); calls.expandContext is set for each hive here. A hive that is missing or cannot
// be read is kept with its error; reading goes on with the others.
void LoadVolumeRegistry(const std::string& root, const RunDataCalls<char16_t>& calls, VolumeRegistry* registry);
