// Carries out the clean-up of a mounted volume. Files are moved into the quarantine,
// not deleted; each hive is copied there before its first change, changed in memory
// through libhivex, committed to a new file beside it, checked, and renamed over
// it, so that a failure at any step leaves the original hive whole. A hive that was
// not closed cleanly is not written at all.
#pragma once

#include <string>
#include <vector>

#include "tools/pestkill-scan/report/scan_report.h"
#include "tools/pestkill-scan/registry_rule/clean_plan.h"
#include "tools/pestkill-scan/registry_rule/volume_registry.h"

// Creates the quarantine directory (one level) when it does not exist. False, with
// the reason, when it cannot be made or used.
bool PrepareQuarantine(const std::string& quarantine, std::string* error);

// Every change, in the order planned: first the files, then each hive once with all
// of its deletions. Each result is reported. A stop signal, or standard output
// failing, ends it between two steps.
void CarryOutPlan(const std::vector<PlannedChange>& changes, const VolumeRegistry& registry,
                  const std::string& quarantine, ScanReport* report);
