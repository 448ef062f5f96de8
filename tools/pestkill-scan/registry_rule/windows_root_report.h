// The lines of a scan of a mounted volume, text or JSON: each hive's state, each
// detection with the changes that belong to it, and each result of --clean. They
// go through the scan's report: names escaped as in every text line, paths that
// are not UTF-8 also as bytes in JSON, and a failed write stops the scan.
#pragma once

#include <string>
#include <vector>

#include "tools/pestkill-scan/report/scan_report.h"
#include "tools/pestkill-scan/registry_rule/clean_plan.h"
#include "tools/pestkill-scan/registry_rule/volume_registry.h"

extern const char SignatureRule[];
extern const char ImpostorRule[];

// A hive that is missing or unreadable is an error; one that was not closed
// cleanly is named with a warning. In JSON every hive gets a line.
void ReportHive(ScanReport* report, const VolumeHive& hive, bool clean);

// The detection line, then one line per change: what --clean would do, or, with
// clean, what it is about to do.
void ReportDetection(ScanReport* report, const std::string& path, const char* rule, char variantLetter,
                     const std::vector<PlannedChange>& changes, const VolumeRegistry& registry, bool clean);

// One result of the clean-up. done false is an error, with reason.
void ReportCleanResult(ScanReport* report, const PlannedChange& change, const VolumeRegistry& registry, bool done,
                       const std::string& detail);

// A note of the scanner's own (not a name) on standard error (text) or a JSON line
// {"note":TEXT}.
void ReportNote(ScanReport* report, const char* text);
