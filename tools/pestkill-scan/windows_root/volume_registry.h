// The registry of a mounted Windows volume as the clean-up needs it: which hives
// there are, whether each could be read and was closed cleanly, the values of the
// Run key of each, the Debugger values under Image File Execution Options, and the
// system directory.
#pragma once

#include <string>
#include <vector>

#include "remedy/run_data_match.h"
#include "tools/pestkill-scan/windows_root/hive_file.h"

enum class HiveRole {
  Machine,      // Windows/System32/config/SOFTWARE: HKLM\SOFTWARE
  DefaultUser,  // Windows/System32/config/DEFAULT: HKU\.DEFAULT
  User,         // a profile's NTUSER.DAT: that user's HKCU
};

struct RunValue {
  std::string key;             // the Run key below the hive's root
  std::string name;            // as libhivex gives it (UTF-8)
  std::u16string commandLine;  // normalised
};

struct DebuggerValue {
  std::string key;   // the program's entry below the hive's root
  std::string name;  // the value's name as stored ("Debugger" in any case)
};

struct VolumeHive {
  HiveRole role = HiveRole::User;
  std::string label;  // "HKLM\SOFTWARE", "HKU\.DEFAULT", "HKCU of NAME"
  std::string path;   // on the host; for a missing system hive where it was looked for
  std::string shown;  // how the lines name it when that is not path (a hive inside a disk image)
  bool present = false;
  bool readable = false;  // opened and read; otherwise error says why
  std::string error;
  BaseBlockState baseBlock;
  std::vector<RunValue> runValues;
  std::vector<DebuggerValue> debuggers;  // Machine only
};

struct VolumeRegistry {
  std::vector<VolumeHive> hives;        // SOFTWARE, DEFAULT, then the profiles in name order
  std::u16string systemDirectory;       // SystemRoot plus \System32
  bool systemRootFromHive = false;      // false: SOFTWARE did not tell, C:\Windows assumed
};

extern const char SampleImageEntry[];  // the documentation entry that is always left alone

// Finds and reads every hive of the volume at root. A hive that is missing or cannot
// be read is kept with its error; reading goes on with the others.
void LoadVolumeRegistry(const std::string& root, const RunDataCalls<char16_t>& calls, VolumeRegistry* registry);

// Reads one hive's Run values (and, for Machine, its Debugger values) into hive.
void ReadHive(const RunDataCalls<char16_t>& calls, VolumeHive* hive);
// The same without the base block, which the caller read from the hive's bytes.
void ReadHiveKeys(const RunDataCalls<char16_t>& calls, VolumeHive* hive);
// The system directory from SOFTWARE's SystemRoot, machine being that hive, read.
void ReadSystemDirectory(const VolumeHive& machine, VolumeRegistry* registry);

// The name the lines give the hive.
inline const std::string& ShownPath(const VolumeHive& hive) { return hive.shown.empty() ? hive.path : hive.shown; }
