#include "tools/pestkill-scan/sources/mounted_volume/windows_root_scan.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/pestkill-scan/judgement/file_judgement.h"
#include "tools/pestkill-scan/report/exit_status.h"
#include "tools/pestkill-scan/report/stop_signal.h"
#include "tools/pestkill-scan/registry_rule/offline_impostor.h"
#include "tools/pestkill-scan/registry_rule/offline_run_data.h"
#include "tools/pestkill-scan/sources/mounted_volume/mounted_registry.h"
#include "tools/pestkill-scan/sources/mounted_volume/volume_clean.h"
#include "tools/pestkill-scan/sources/mounted_volume/volume_path.h"
#include "tools/pestkill-scan/registry_rule/volume_rules.h"
#include "tools/pestkill-scan/registry_rule/windows_root_report.h"
#include "tools/pestkill-scan/sources/tree/scan_visitor.h"

namespace {

// The volume's scan is a walk of the whole volume as -r does it, with the
// registry beside it and the clean-up planned as the detections come.
struct VolumeScan : ScanRun {
  WalkSettings walk;
  std::string root;
  VolumeShortForms shortForms;
  VolumeRules rules;
};

// A file of the volume. The Winlogon impostor rule looks at the name and the
// registry, not at the content, so every name of a file is held against it; the
// signatures judge the content once, under the first name met. A file they find
// is a signature detection; one they do not (clean, or not checked) is an impostor
// detection when the rule holds for this name.
void JudgeVolumeFile(void* context, const char* path, const char* openPath, uint64_t size, FileIdentity identity) {
  VolumeScan* scan = static_cast<VolumeScan*>(static_cast<ScanRun*>(context));
  std::u16string windowsPath;
  std::u16string upperTarget;
  const bool impostor = WindowsPathOf(scan->root, path, &windowsPath) &&
                        HoldsImpostorRule(scan->rules, windowsPath, &upperTarget);
  if (!impostor && !FirstTimeJudged(scan, path, identity)) return;
  scan->judged.insert({identity.device, identity.file});
  FileJudgement judgement;
  JudgeSignatures(*scan, openPath, -1, size, &judgement);
  ReportVolumeFile(scan, &scan->rules, path, impostor, upperTarget, judgement);
}

int Refuse(const char* text, const char* argument = nullptr) {
  std::fprintf(stderr, "pestkill-scan: %s%s%s\n", text, argument != nullptr ? ": " : "",
               argument != nullptr ? argument : "");
  return ExitError;
}

std::string ParentOf(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// True when inner is root or lies below it (both existing, compared as real paths).
bool LiesWithin(const std::string& inner, const std::string& root) {
  char innerReal[PATH_MAX];
  char rootReal[PATH_MAX];
  if (realpath(inner.c_str(), innerReal) == nullptr || realpath(root.c_str(), rootReal) == nullptr) return false;
  const std::string a = innerReal;
  std::string b = rootReal;
  if (a == b) return true;
  if (b.back() != '/') b += '/';
  return a.compare(0, b.size(), b) == 0;
}

}  // namespace

int RunWindowsRootScan(const ScanSettings& settings, const WindowsRootOptions& volume, bool oneFileSystem) {
  if (settings.explain) return Refuse("--explain is not available with --windows-root");

  VolumeScan scan;
  scan.settings = settings;
  scan.root = volume.root;
  while (scan.root.size() > 1 && scan.root.back() == '/') scan.root.pop_back();
  struct stat st;
  if (stat(scan.root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return Refuse("--windows-root needs the directory where the volume is mounted", volume.root);
  scan.rules.clean = volume.clean;
  if (scan.rules.clean) {
    // Files moved there would be found again by the next scan, and the volume is
    // evidence: nothing of the quarantine may lie on it. A quarantine still to be
    // made is judged by the directory it would be made in.
    const std::string quarantine = volume.quarantine;
    const bool exists = stat(quarantine.c_str(), &st) == 0;
    const std::string judged = exists ? quarantine : ParentOf(quarantine);
    if (LiesWithin(judged, scan.root) || (exists && LiesWithin(scan.root, quarantine)))
      return Refuse("the quarantine must not lie on the volume it is cleaning", volume.quarantine);
    std::string error;
    if (!PrepareQuarantine(quarantine, &error)) return Refuse(error.c_str(), volume.quarantine);
  }
  scan.shortForms.root = scan.root;
  scan.rules.calls = MountedVolumeRunDataCalls(&scan.shortForms);

  ConfigureRun(&scan);
  scan.walk.recursive = true;  // the whole volume, as -r walks it
  scan.walk.oneFileSystem = oneFileSystem;
  CatchStopSignals();
  StartReport(&scan.report);

  LoadVolumeRegistry(scan.root, scan.rules.calls, &scan.rules.registry);
  for (const VolumeHive& hive : scan.rules.registry.hives) ReportHive(&scan.report, hive, scan.rules.clean);
  if (!scan.rules.registry.systemRootFromHive)
    ReportNote(&scan.report, "SOFTWARE does not name the system root; C:\\Windows is assumed");

  const WalkVisitor visitor = ScanVisitor(&scan, JudgeVolumeFile);
  if (!Stopping(scan)) WalkOperand(scan.root.c_str(), scan.walk, &visitor);

  // A scan cut short has not seen the whole volume: what it planned is not carried
  // out halfway through the detections.
  if (scan.rules.clean && Stopping(scan)) {
    BeginErrorLine(&scan.report);
    std::fprintf(stderr, "pestkill-scan: the scan stopped before its end; --clean changed nothing\n");
  } else if (scan.rules.clean) {
    CarryOutPlan(scan.rules.planned, scan.rules.registry, volume.quarantine, &scan.report);
  }
  const int stopSignal = StopSignal();
  ReportSummary(&scan.report, stopSignal);
  return ExitStatusFor(scan.report, stopSignal);
}
