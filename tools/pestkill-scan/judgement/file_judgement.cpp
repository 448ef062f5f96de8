#include "tools/pestkill-scan/judgement/file_judgement.h"

#include <cstring>
#include <optional>
#include <vector>

#include "detect/signatures.h"
#include "platform/crt_io.h"
#include "tools/pestkill-scan/judgement/glob_match.h"
#include "tools/pestkill-scan/judgement/read_layer.h"
#include "tools/pestkill-scan/report/stop_signal.h"

namespace {

void ReportLine(ScanRun* run, LineKind kind, const char* path, const char* reason, const char* what) {
  switch (kind) {
    case LineKind::Error: ReportError(&run->report, path, reason); break;
    case LineKind::Skipped: ReportSkipped(&run->report, path, reason); break;
    case LineKind::Problem: ReportProblem(&run->report, what, path, reason); break;
  }
}

// --- In walk order ---------------------------------------------------------

// What the walk met, waiting for its turn in the report: a file to judge (by its
// open descriptor, or by openPath when fd is -1), or a line of the walk.
struct PendingEntry {
  bool isFile = true;
  LineKind line = LineKind::Error;
  std::string path;
  std::string openPath;
  int fd = -1;
  uint64_t size = 0;
  std::string reason;
  std::string what;
  std::optional<FileJudgement> judgement;
};

void WorkOnEntry(void* context, void* pending) {
  const ScanRun* run = static_cast<const ScanRun*>(context);
  PendingEntry* entry = static_cast<PendingEntry*>(pending);
  entry->judgement.emplace();
  JudgeSignatures(*run, entry->openPath.c_str(), entry->fd, entry->size, &*entry->judgement);
  if (entry->fd >= 0) (void)_close(entry->fd);
  entry->fd = -1;
}

void FinishEntry(void* context, void* pending, bool finished) {
  ScanRun* run = static_cast<ScanRun*>(context);
  PendingEntry* entry = static_cast<PendingEntry*>(pending);
  // Once standard output has failed nothing more is reported or counted.
  if (finished && !run->report.outputFailed) {
    if (entry->isFile) {
      ReportJudgement(run, entry->path.c_str(), *entry->judgement);
    } else {
      ReportLine(run, entry->line, entry->path.c_str(), entry->reason.c_str(), entry->what.c_str());
    }
    if (run->report.outputFailed) run->outputFailed = true;
  }
  if (entry->fd >= 0) (void)_close(entry->fd);  // given up at a stop before it was judged
  entry->fd = -1;
  entry->judgement.reset();
}

}  // namespace

bool AdmitEntry(ScanRun* run, const char* path, const char* name) {
  if (run->settings.excludes.empty()) return true;
  std::string whole = path;
#ifdef _WIN32
  for (char& c : whole) c = c == '\\' ? '/' : c;  // GLOBs are written with '/'
#endif
  for (const char* glob : run->settings.excludes) {
    const char* subject = std::strchr(glob, '/') != nullptr ? whole.c_str() : name;
    if (MatchesGlob(glob, subject)) {
      QueueLine(run, LineKind::Skipped, path, (std::string("excluded by ") + glob).c_str());
      return false;
    }
  }
  return true;
}

void ConfigureRun(ScanRun* run) {
  const ScanSettings& settings = run->settings;
  run->report.form = settings.json ? OutputForm::Json : OutputForm::Text;
  run->report.listClean = settings.listClean;
  run->report.showVariant = settings.showVariant;
  run->report.nullEnded = settings.nullEnded;
}

char VariantLetter(Variant variant) {
  switch (variant) {
    case Variant::A: return 'A';
    case Variant::B: return 'B';
    case Variant::C: return 'C';
    case Variant::D: return 'D';
    case Variant::None: break;
  }
  return 0;
}

bool FirstTimeJudged(ScanRun* run, const char* path, FileIdentity identity) {
  if (identity.device == 0 && identity.file == 0) return true;  // identity unknown
  if (run->judged.insert({identity.device, identity.file}).second) return true;
  QueueLine(run, LineKind::Skipped, path, "already judged under another name (a hard link, or named twice)");
  return false;
}

namespace {

// The road to the bytes of the file being judged: a read source, else the open
// descriptor fd, else the file openPath names.
struct FileRoad {
  const char* openPath = nullptr;
  int fd = -1;
  const ReadSource* source = nullptr;
};

Variant JudgeOnRoad(const FileRoad& road, uint64_t size, ScanStop* stop, ScanTrace* trace) {
  if (road.source != nullptr) return JudgeThroughReadSource(*road.source, static_cast<int64_t>(size), stop, trace);
  if (road.fd >= 0) return JudgeThroughReadLayer(road.fd, static_cast<int64_t>(size), stop, trace);
  return JudgeImageFile(road.openPath, stop, trace);
}

void JudgeSignaturesOn(const ScanRun& run, const FileRoad& road, uint64_t size, FileJudgement* judgement) {
  judgement->why.size = size;
  // The detector needs EntryCodeSize bytes at the entry point before any signature
  // is tested, so a shorter file is not read. This also keeps kernel pseudo-files
  // that report a size of 0 (some block when read) out of the detector.
  if (size < static_cast<uint64_t>(EntryCodeSize)) {
    judgement->why.notRead = true;
    judgement->verdict = Verdict::NotChecked;
    judgement->reason = NotCheckedReason(judgement->why);
    return;
  }
  ScanStop stop = ScanStop::Checked;
  Variant variant = Variant::None;
  if (run.settings.explain) {
    variant = JudgeOnRoad(road, size, nullptr, &judgement->trace);
    stop = judgement->trace.stop;
    judgement->why.trace = &judgement->trace;
  } else {
    variant = JudgeOnRoad(road, size, &stop, nullptr);
  }
  if (stop == ScanStop::CannotOpen) {
    judgement->verdict = Verdict::Unreadable;
  } else if (variant != Variant::None) {
    judgement->verdict = Verdict::Infected;
    judgement->variant = VariantLetter(variant);
  } else if (stop != ScanStop::Checked) {
    judgement->verdict = Verdict::NotChecked;
    judgement->reason = StopReason(stop);
  }
}

}  // namespace

void JudgeSignatures(const ScanRun& run, const char* openPath, int fd, uint64_t size, FileJudgement* judgement) {
  FileRoad road;
  road.openPath = openPath;
  road.fd = fd;
  JudgeSignaturesOn(run, road, size, judgement);
}

void JudgeSourceSignatures(const ScanRun& run, const ReadSource& source, uint64_t size, FileJudgement* judgement) {
  FileRoad road;
  road.source = &source;
  JudgeSignaturesOn(run, road, size, judgement);
}

void ReportJudgement(ScanRun* run, const char* path, const FileJudgement& judgement) {
  ScanReport* report = &run->report;
  const FileExplanation* shown = run->settings.explain ? &judgement.why : nullptr;
  switch (judgement.verdict) {
    case Verdict::Infected: ReportInfected(report, path, judgement.variant, shown); break;
    case Verdict::Clean: ReportClean(report, path, shown); break;
    case Verdict::NotChecked: ReportNotChecked(report, path, judgement.reason.c_str(), shown); break;
    case Verdict::Unreadable: ReportError(report, path, "cannot be opened", shown); break;
  }
}

void QueueLine(ScanRun* run, LineKind kind, const char* path, const char* reason, const char* what) {
  if (run->work == nullptr) {
    ReportLine(run, kind, path, reason, what == nullptr ? "" : what);
    return;
  }
  PendingEntry* entry = static_cast<PendingEntry*>(run->work->Next());
  entry->isFile = false;
  entry->line = kind;
  entry->path = path;
  entry->reason = reason;
  entry->what = what == nullptr ? "" : what;
  run->work->Hand(false);
}

void QueueFile(ScanRun* run, const char* path, const char* openPath, int fd, uint64_t size) {
  if (run->work == nullptr) {
    FileJudgement judgement;
    JudgeSignatures(*run, openPath, fd, size, &judgement);
    if (fd >= 0) (void)_close(fd);
    ReportJudgement(run, path, judgement);
    return;
  }
  PendingEntry* entry = static_cast<PendingEntry*>(run->work->Next());
  entry->isFile = true;
  entry->path = path;
  entry->openPath = openPath;
  entry->fd = fd;
  entry->size = size;
  run->work->Hand(true);
}

void InWalkOrder(ScanRun* run, void (*walk)(ScanRun* run)) {
  std::vector<PendingEntry> entries(EntriesForWorkers(run->settings.jobs));
  std::vector<void*> pending;
  for (PendingEntry& entry : entries) pending.push_back(&entry);
  OrderedWork work(run->settings.jobs, pending, {run, WorkOnEntry, FinishEntry});
  run->work = &work;
  walk(run);
  work.Close(Stopping(*run));
  run->work = nullptr;
}

void WakeWorkers(ScanRun* run) {
  if (run->work != nullptr) run->work->Flush();
}

bool Stopping(const ScanRun& run) {
  // While workers report, the walk reads only the flag they set.
  const bool outputFailed = run.work != nullptr ? run.outputFailed.load() : run.report.outputFailed;
  return StopSignal() != 0 || outputFailed;
}

