#include "tools/pestkill-scan/registry_rule/volume_rules.h"

#include "tools/pestkill-scan/registry_rule/offline_impostor.h"
#include "tools/pestkill-scan/registry_rule/windows_root_report.h"

namespace {

// Adds the change unless an earlier detection planned it already; returns whether
// it was new.
bool Plan(VolumeRules* rules, const PlannedChange& change) {
  for (const PlannedChange& earlier : rules->planned)
    if (SameChange(earlier, change)) return false;
  rules->planned.push_back(change);
  return true;
}

std::vector<PlannedChange> PlanImpostorClean(VolumeRules* rules, const std::string& path,
                                             const std::u16string& upperTarget) {
  std::vector<PlannedChange> mine;
  PlannedChange file;
  file.kind = ChangeKind::QuarantineFile;
  file.file = path;
  file.rule = ImpostorRule;
  if (Plan(rules, file)) mine.push_back(file);
  for (const RunValueMatch& match : FindStartingRunValues(rules->registry, upperTarget, true, rules->calls)) {
    PlannedChange change;
    change.kind = ChangeKind::DeleteRunValue;
    change.hive = match.hive;
    change.key = rules->registry.hives[match.hive].runValues[match.value].key;
    change.value = rules->registry.hives[match.hive].runValues[match.value].name;
    change.rule = ImpostorRule;
    if (Plan(rules, change)) mine.push_back(change);
  }
  for (size_t hive = 0; hive < rules->registry.hives.size(); ++hive) {
    for (const DebuggerValue& debugger : rules->registry.hives[hive].debuggers) {
      PlannedChange change;
      change.kind = ChangeKind::DeleteDebugger;
      change.hive = hive;
      change.key = debugger.key;
      change.value = debugger.name;
      change.entry = debugger.entry;
      change.rule = ImpostorRule;
      if (Plan(rules, change)) mine.push_back(change);
    }
  }
  return mine;
}

}  // namespace

bool HoldsImpostorRule(const VolumeRules& rules, const std::u16string& windowsPath, std::u16string* upperTarget) {
  return IsOfflineWinlogonImpostor(rules.registry, windowsPath, rules.calls, upperTarget);
}

void ReportVolumeFile(ScanRun* run, VolumeRules* rules, const std::string& path, bool impostor,
                      const std::u16string& upperTarget, const FileJudgement& judgement) {
  if (judgement.verdict == Verdict::Infected) {
    PlannedChange file;
    file.kind = ChangeKind::QuarantineFile;
    file.file = path;
    file.rule = SignatureRule;
    std::vector<PlannedChange> mine;
    if (Plan(rules, file)) mine.push_back(file);
    ReportDetection(&run->report, path, SignatureRule, judgement.variant, mine, rules->registry, rules->clean);
  } else if (impostor && judgement.verdict != Verdict::Unreadable) {
    ReportDetection(&run->report, path, ImpostorRule, 0, PlanImpostorClean(rules, path, upperTarget),
                    rules->registry, rules->clean);
  } else {
    ReportJudgement(run, path.c_str(), judgement);
  }
}
