#include "tools/pestkill-scan/windows_root/windows_root_report.h"

#include <cstdio>

#include "tools/pestkill-scan/json_text.h"

const char SignatureRule[] = "signature";
const char ImpostorRule[] = "winlogon impostor";

namespace {

const char DetectionName[] = "Trojan.Kestrelon.Gen";

// Names on the volume and in hives may hold any byte; a control byte in a text line
// could forge or hide a line, so it is written as \xNN.
void PutText(FILE* out, const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      std::fprintf(out, "\\x%02X", c);
    } else {
      std::fputc(c, out);
    }
  }
}

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

void PutChangeText(FILE* out, const PlannedChange& change, const VolumeRegistry& registry) {
  if (change.kind == ChangeKind::QuarantineFile) {
    std::fputs("move the file ", out);
    PutText(out, change.file);
    std::fputs(" into the quarantine", out);
    return;
  }
  std::fputs("delete value ", out);
  PutJsonString(out, change.value.c_str());
  std::fputs(" of ", out);
  PutText(out, FullKey(change, registry));
  std::fputs(" in ", out);
  PutText(out, registry.hives[change.hive].path);
}

void PutChangeJson(FILE* out, const PlannedChange& change, const VolumeRegistry& registry) {
  if (change.kind == ChangeKind::QuarantineFile) {
    std::fputs("{\"change\":\"quarantine file\",\"path\":", out);
    PutJsonString(out, change.file.c_str());
    std::fputs("}", out);
    return;
  }
  std::fputs(change.kind == ChangeKind::DeleteRunValue ? "{\"change\":\"delete run value\",\"hive\":"
                                                      : "{\"change\":\"delete debugger value\",\"hive\":",
             out);
  PutJsonString(out, registry.hives[change.hive].path.c_str());
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
  if (report->form == OutputForm::Json) {
    std::fputs("{\"hive\":", stdout);
    PutJsonString(stdout, hive.path.c_str());
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
    std::fflush(stdout);
  }
  if (failed) {
    PutText(stderr, hive.path);
    std::fprintf(stderr, ": ERROR %s hive: ", hive.label.c_str());
    PutText(stderr, hive.error);
    std::fputs("; its Run values are not examined\n", stderr);
  }
  if (hive.baseBlock.Dirty()) {
    PutText(stderr, hive.path);
    std::fprintf(stderr,
                 ": WARNING %s hive was not closed cleanly (base block sequence numbers %u and %u): its "
                 "newest changes may exist only in its .LOG1/.LOG2 transaction logs, which are not read%s\n",
                 hive.label.c_str(), hive.baseBlock.sequence1, hive.baseBlock.sequence2,
                 clean ? "; --clean will not write it" : "; --clean would not write it");
  }
}

void ReportDetection(ScanReport* report, const std::string& path, const char* rule, char variantLetter,
                     const std::vector<PlannedChange>& changes, const VolumeRegistry& registry, bool clean) {
  ++report->counts.files;
  ++report->counts.infected;
  if (report->form == OutputForm::Json) {
    std::fputs("{\"path\":", stdout);
    PutJsonString(stdout, path.c_str());
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
    PutText(stdout, path);
    std::printf(": %s FOUND", DetectionName);
    if (report->showVariant) {
      if (variantLetter != 0) {
        std::printf(" (variant %c)", variantLetter);
      } else {
        std::printf(" (%s)", rule);
      }
    }
    std::fputc('\n', stdout);
    for (const PlannedChange& change : changes) {
      std::fputs(clean ? "  --clean: " : "  --clean would ", stdout);
      PutChangeText(stdout, change, registry);
      std::fputc('\n', stdout);
    }
  }
  std::fflush(stdout);
}

void ReportCleanResult(ScanReport* report, const PlannedChange& change, const VolumeRegistry& registry, bool done,
                       const std::string& detail) {
  if (!done) ++report->counts.errors;
  if (report->form == OutputForm::Json) {
    std::fputs("{\"cleaned\":", stdout);
    PutChangeJson(stdout, change, registry);
    std::printf(",\"result\":\"%s\",\"detail\":", done ? "done" : "failed");
    PutJsonString(stdout, detail.c_str());
    std::fputs("}\n", stdout);
  } else if (done) {
    std::fputs("CLEANED: ", stdout);
    PutChangeText(stdout, change, registry);
    std::fputs(": ", stdout);
    PutText(stdout, detail);
    std::fputc('\n', stdout);
  }
  std::fflush(stdout);
  if (!done) {
    PutText(stderr, change.kind == ChangeKind::QuarantineFile ? change.file : registry.hives[change.hive].path);
    std::fputs(": ERROR --clean did not ", stderr);
    PutChangeText(stderr, change, registry);
    std::fputs(": ", stderr);
    PutText(stderr, detail);
    std::fputc('\n', stderr);
  }
}

void ReportNote(ScanReport* report, const std::string& text) {
  if (report->form == OutputForm::Json) {
    std::fputs("{\"note\":", stdout);
    PutJsonString(stdout, text.c_str());
    std::fputs("}\n", stdout);
    std::fflush(stdout);
  } else {
    std::fputs("pestkill-scan: ", stderr);
    PutText(stderr, text);
    std::fputc('\n', stderr);
  }
}
