#include "tools/pestkill-scan/registry_rule/windows_root_report.h"

#include <cstdio>

#include "tools/pestkill-scan/report/json_text.h"

const char SignatureRule[] = "signature";
const char ImpostorRule[] = "winlogon impostor";

namespace {

// Names on the volume and in its hives may hold any byte: in text lines they are
// names from the evidence as every file name the scanner writes (raw with -0 on
// standard output), while the roots and the fixed key paths are its own words.

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

// The hive as a reader knows it: its root, or "HKCU of" and the profile's name.
void AddHiveLabel(TextLine* line, const VolumeHive& hive) {
  if (hive.role == HiveRole::User) {
    line->Words("HKCU of ").Name(hive.profileName);
  } else {
    line->Words(RootName(hive.role));
  }
}

// The key of a change: the fixed path, and the program's entry read from the hive
// for a Debugger value.
void AddKey(TextLine* line, const PlannedChange& change, const VolumeRegistry& registry) {
  const std::string key = FullKey(change, registry);
  line->Words(key.substr(0, key.size() - change.entry.size())).Name(change.entry);
}

void AddChangeText(TextLine* line, const PlannedChange& change, const VolumeRegistry& registry) {
  if (change.kind == ChangeKind::QuarantineFile) {
    line->Words("move the file ").Name(change.file).Words(" into the quarantine");
    return;
  }
  line->Words("delete value \"").Name(change.value).Words("\" of ");
  AddKey(line, change, registry);
  line->Words(" in ").Name(ShownPath(registry.hives[change.hive]));
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
    TextLine line;
    line.Name(ShownPath(hive)).Words(": ERROR ");
    AddHiveLabel(&line, hive);
    line.Words(" hive: ").Words(hive.error).Words("; its Run values are not examined");
    PutErrorLine(report, line);
  }
  if (hive.baseBlock.Dirty()) {
    char numbers[32];
    (void)std::snprintf(numbers, sizeof numbers, "%u and %u", hive.baseBlock.sequence1, hive.baseBlock.sequence2);
    TextLine line;
    line.Name(ShownPath(hive)).Words(": WARNING ");
    AddHiveLabel(&line, hive);
    line.Words(" hive was not closed cleanly (base block sequence numbers ").Words(numbers);
    line.Words("): its newest changes may exist only in its .LOG1/.LOG2 transaction logs, which are not read");
    line.Words(clean ? "; --clean will not write it" : "; --clean would not write it");
    PutErrorLine(report, line);
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
    TextLine line;
    line.Name(path).Words(std::string(": ") + DetectionName + " FOUND");
    if (report->showVariant) {
      const std::string which = variantLetter != 0 ? std::string("variant ") + variantLetter : std::string(rule);
      line.Words(" (" + which + ")");
    }
    PutTextLine(*report, line);
    for (const PlannedChange& change : changes) {
      TextLine changeLine;
      changeLine.Words(clean ? "  --clean: " : "  --clean would ");
      AddChangeText(&changeLine, change, registry);
      PutTextLine(*report, changeLine);
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
      TextLine line;
      line.Words("CLEANED: ");
      AddChangeText(&line, change, registry);
      line.Words(": ").Words(detail);
      PutTextLine(*report, line);
    }
    EndRecord(report);
  }
  if (!done) {
    TextLine line;
    line.Name(change.kind == ChangeKind::QuarantineFile ? change.file : ShownPath(registry.hives[change.hive]));
    line.Words(": ERROR --clean did not ");
    AddChangeText(&line, change, registry);
    line.Words(": ").Words(detail);
    PutErrorLine(report, line);
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
