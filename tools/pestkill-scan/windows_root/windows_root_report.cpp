#include "tools/pestkill-scan/windows_root/windows_root_report.h"

#include <cstdio>

#include "tools/pestkill-scan/json_text.h"
#include "tools/pestkill-scan/name_text.h"

const char SignatureRule[] = "signature";
const char ImpostorRule[] = "winlogon impostor";

namespace {

// Names on the volume and in its hives may hold any byte: in text lines they are
// escaped as every name the scanner writes (raw with -0 on standard output).

const char* RootName(HiveRole role) {
  switch (role) {
    case HiveRole::Machine: return "HKLM\\SOFTWARE";
    case HiveRole::DefaultUser: return "HKU\\.DEFAULT";
    case HiveRole::User: return "HKCU";
  }
  return "";
}

std::string FullKey(const PlannedChange& change, const VolumeRegistry& registry) {
  return std::string(RootName(registry.hives[change.hive].role)) + "\\" + change.key;
}

// The names of a change, escaped for standard error, or as PutTextName writes them.
void PutName(const ScanReport* onStdout, FILE* out, const std::string& name) {
  if (onStdout != nullptr) {
    PutTextName(*onStdout, name.c_str());
  } else {
    PutEscapedName(out, name.c_str());
  }
}

void PutChangeText(const ScanReport* onStdout, FILE* out, const PlannedChange& change,
                   const VolumeRegistry& registry) {
  if (change.kind == ChangeKind::QuarantineFile) {
    std::fputs("move the file ", out);
    PutName(onStdout, out, change.file);
    std::fputs(" into the quarantine", out);
    return;
  }
  std::fputs("delete value \"", out);
  PutName(onStdout, out, change.value);
  std::fputs("\" of ", out);
  PutName(onStdout, out, FullKey(change, registry));
  std::fputs(" in ", out);
  PutName(onStdout, out, ShownPath(registry.hives[change.hive]));
}

void PutChangeJson(FILE* out, const PlannedChange& change, const VolumeRegistry& registry) {
  if (change.kind == ChangeKind::QuarantineFile) {
    std::fputs("{\"change\":\"quarantine file\",", out);
    PutJsonPathMembers(out, change.file.c_str());
    std::fputs("}", out);
    return;
  }
  std::fputs(change.kind == ChangeKind::DeleteRunValue ? "{\"change\":\"delete run value\","
                                                      : "{\"change\":\"delete debugger value\",",
             out);
  PutJsonPathMembers(out, "hive", ShownPath(registry.hives[change.hive]).c_str());
  std::fputs(",\"key\":", out);
  PutJsonString(out, FullKey(change, registry).c_str());
  std::fputs(",\"value\":", out);
  PutJsonString(out, change.value.c_str());
  std::fputs("}", out);
}

}  // namespace

void ReportHive(ScanReport* report, const VolumeHive& hive, bool clean) {
  const bool failed = !hive.readable;
  if (failed) ++report->counts.errors;
  if (report->form == OutputForm::Json && BeginRecord(report)) {
    std::fputc('{', stdout);
    PutJsonPathMembers(stdout, "hive", ShownPath(hive).c_str());
    std::fputs(",\"key\":", stdout);
    PutJsonString(stdout, hive.role == HiveRole::User ? hive.label.c_str() : RootName(hive.role));
    std::printf(",\"state\":\"%s\"", !hive.present ? "missing" : failed ? "unreadable" : "read");
    if (failed) {
      std::fputs(",\"error\":", stdout);
      PutJsonString(stdout, hive.error.c_str());
    }
    std::printf(",\"dirty\":%s", hive.baseBlock.Dirty() ? "true" : "false");
    if (hive.baseBlock.read)
      std::printf(",\"sequence\":[%u,%u]", hive.baseBlock.sequence1, hive.baseBlock.sequence2);
    std::fputs("}\n", stdout);
    EndRecord(report);
  }
  if (failed) {
    BeginErrorLine(report);
    PutEscapedName(stderr, ShownPath(hive).c_str());
    std::fputs(": ERROR ", stderr);
    PutEscapedName(stderr, hive.label.c_str());
    std::fputs(" hive: ", stderr);
    PutEscapedName(stderr, hive.error.c_str());
    std::fputs("; its Run values are not examined\n", stderr);
  }
  if (hive.baseBlock.Dirty()) {
    BeginErrorLine(report);
    PutEscapedName(stderr, ShownPath(hive).c_str());
    std::fputs(": WARNING ", stderr);
    PutEscapedName(stderr, hive.label.c_str());
    std::fprintf(stderr,
                 " hive was not closed cleanly (base block sequence numbers %u and %u): its newest changes "
                 "may exist only in its .LOG1/.LOG2 transaction logs, which are not read%s\n",
                 hive.baseBlock.sequence1, hive.baseBlock.sequence2,
                 clean ? "; --clean will not write it" : "; --clean would not write it");
  }
}

void ReportDetection(ScanReport* report, const std::string& path, const char* rule, char variantLetter,
                     const std::vector<PlannedChange>& changes, const VolumeRegistry& registry, bool clean) {
  ++report->counts.files;
  ++report->counts.infected;
  if (!BeginRecord(report)) return;
  if (report->form == OutputForm::Json) {
    std::fputc('{', stdout);
    PutJsonPathMembers(stdout, path.c_str());
    std::fputs(report->entryMembers.c_str(), stdout);
    std::fputs(",\"verdict\":\"infected\",\"variant\":", stdout);
    if (variantLetter != 0) {
      std::printf("\"%c\"", variantLetter);
    } else {
      std::fputs("null", stdout);
    }
    std::printf(",\"rule\":\"%s\",\"changes\":[", rule);
    for (size_t i = 0; i < changes.size(); ++i) {
      if (i != 0) std::fputc(',', stdout);
      PutChangeJson(stdout, changes[i], registry);
    }
    std::fputs("]}\n", stdout);
  } else {
    PutTextName(*report, path.c_str());
    std::printf(": %s FOUND", DetectionName);
    if (report->showVariant) {
      if (variantLetter != 0) {
        std::printf(" (variant %c)", variantLetter);
      } else {
        std::printf(" (%s)", rule);
      }
    }
    EndTextLine(*report);
    for (const PlannedChange& change : changes) {
      std::fputs(clean ? "  --clean: " : "  --clean would ", stdout);
      PutChangeText(report, stdout, change, registry);
      EndTextLine(*report);
    }
  }
  EndRecord(report);
}

void ReportCleanResult(ScanReport* report, const PlannedChange& change, const VolumeRegistry& registry, bool done,
                       const std::string& detail) {
  if (!done) ++report->counts.errors;
  if ((report->form == OutputForm::Json || done) && BeginRecord(report)) {
    if (report->form == OutputForm::Json) {
      std::fputs("{\"cleaned\":", stdout);
      PutChangeJson(stdout, change, registry);
      std::printf(",\"result\":\"%s\",\"detail\":", done ? "done" : "failed");
      PutJsonString(stdout, detail.c_str());
      std::fputs("}\n", stdout);
    } else {
      std::fputs("CLEANED: ", stdout);
      PutChangeText(report, stdout, change, registry);
      std::fputs(": ", stdout);
      PutTextName(*report, detail.c_str());
      EndTextLine(*report);
    }
    EndRecord(report);
  }
  if (!done) {
    BeginErrorLine(report);
    PutEscapedName(stderr,
                   (change.kind == ChangeKind::QuarantineFile ? change.file : ShownPath(registry.hives[change.hive])).c_str());
    std::fputs(": ERROR --clean did not ", stderr);
    PutChangeText(nullptr, stderr, change, registry);
    std::fputs(": ", stderr);
    PutEscapedName(stderr, detail.c_str());
    std::fputc('\n', stderr);
  }
}

void ReportNote(ScanReport* report, const char* text) {
  if (report->form == OutputForm::Json) {
    if (!BeginRecord(report)) return;
    std::fputs("{\"note\":", stdout);
    PutJsonString(stdout, text);
    std::fputs("}\n", stdout);
    EndRecord(report);
  } else {
    BeginErrorLine(report);
    std::fprintf(stderr, "pestkill-scan: %s\n", text);
  }
}
