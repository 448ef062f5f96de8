// The two detection roads on a Windows system volume, whichever source its files
// and hives come from (a mounted volume, a volume inside a disk image): the
// signatures' judgement of a file and the Winlogon impostor rule for its name,
// reported with the clean-up each detection plans.
#pragma once

#include <string>
#include <vector>

#include "remedy/run_data_match.h"
#include "tools/pestkill-scan/judgement/file_judgement.h"
#include "tools/pestkill-scan/registry_rule/clean_plan.h"
#include "tools/pestkill-scan/registry_rule/volume_registry.h"

struct VolumeRules {
  RunDataCalls<char16_t> calls;
  VolumeRegistry registry;
  std::vector<PlannedChange> planned;  // in the order the detections came
  bool clean = false;                  // the changes are to be carried out, not only listed
};

// The Winlogon impostor rule for the file at windowsPath ("C:\..."); on true,
// *upperTarget is what the Run values were compared with.
bool HoldsImpostorRule(const VolumeRules& rules, const std::u16string& windowsPath, std::u16string* upperTarget);

// Reports the file at path: a signature detection (only the file goes, as the
// live tool leaves the registry alone), else an impostor detection when impostor
// holds (the file, the Run values that start it, the image debuggers), else the
// judgement as a scan of PATHs reports it. Each change is planned once.
void ReportVolumeFile(ScanRun* run, VolumeRules* rules, const std::string& path, bool impostor,
                      const std::u16string& upperTarget, const FileJudgement& judgement);
