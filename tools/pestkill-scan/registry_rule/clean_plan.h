// What the clean-up of a mounted volume changes: for a signature match the file;
// for a Winlogon impostor the file, every Run value of HKLM, of each user's HKCU and
// of HKU\.DEFAULT that starts it, and every Debugger value under Image File
// Execution Options but the sample entry's.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum class ChangeKind { QuarantineFile, DeleteRunValue, DeleteDebugger };

struct PlannedChange {
  ChangeKind kind = ChangeKind::QuarantineFile;
  std::string file;    // QuarantineFile: the file on the host
  size_t hive = 0;     // the others: index into VolumeRegistry::hives
  std::string key;     // key path below the hive's root
  std::string value;   // value name as stored
  std::string entry;   // DeleteDebugger: the program's entry read from the hive, which key ends with
  const char* rule = "";  // the rule of the detection it belongs to
};

// A change is planned once, by the first detection that needs it.
inline bool SameChange(const PlannedChange& a, const PlannedChange& b) {
  if (a.kind != b.kind) return false;
  if (a.kind == ChangeKind::QuarantineFile) return a.file == b.file;
  return a.hive == b.hive && a.key == b.key && a.value == b.value;
}
