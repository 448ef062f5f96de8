// The registry of a mounted Windows volume as the clean-up needs it: which hives
// there are, whether each could be read and was closed cleanly, the values of the
// Run key of each, the Debugger values under Image File Execution Options, and the
// system directory.
#pragma once

#include <string>
#include <vector>

#include "remedy/run_data_match.h"
#include "tools/pestkill-scan/registry_rule/hive_file.h"
#include "tools/pestkill-scan/registry_rule/volume_environment.h"

enum class HiveRole {
  Machine,      // Windows/System32/config/SOFTWARE: HKLM\SOFTWARE
  DefaultUser,  // Windows/System32/config/DEFAULT: HKU\.DEFAULT
  User,         // a profile's NTUSER.DAT: that user's HKCU
};

struct RunValue {
  std::string key;             // the Run key below the hive's root
  std::string name;            // as libhivex gives it (UTF-8)
  std::u16string commandLine;  // normalised; an expandable string expanded first
  // An expandable string's command line as written, normalised, when it differs
  // from the expanded one (what it names that way still counts); empty otherwise.
  std::u16string writtenCommandLine = std::u16string();
};

struct DebuggerValue {
  std::string key;    // the program's entry below the hive's root
  std::string name;   // the value's name as stored ("Debugger" in any case)
  std::string entry;  // the entry's own name, the last component of key
};

struct VolumeHive {
  HiveRole role = HiveRole::User;
  std::string label;  // "HKLM\SOFTWARE", "HKU\.DEFAULT", "HKCU of NAME"
  std::string profileName;  // User: NAME, the profile folder's name
  std::string path;   // on the host; for a missing system hive where it was looked for
  std::string shown;  // how the lines name it when that is not path (a hive inside a disk image)
  bool present = false;
  bool readable = false;  // opened and read; otherwise error says why
  std::string error;
  BaseBlockState baseBlock;
  std::vector<RunValue> runValues;
  std::vector<DebuggerValue> debuggers;  // Machine only
  std::u16string profile;                // User only: the profile folder, "C:\Users\NAME"
  bool olderLayout = false;              // User only: a profile under "Documents and Settings"
};

struct VolumeRegistry {
  std::vector<VolumeHive> hives;        // SOFTWARE, DEFAULT, then the profiles in name order
  std::u16string systemDirectory;       // SystemRoot plus \System32
  bool systemRootFromHive = false;      // false: SOFTWARE did not tell, C:\Windows assumed
  VolumeEnvironment systemEnvironment;  // SystemRoot and the program folders SOFTWARE names
};

extern const char SampleImageEntry[];  // the documentation entry that is always left alone

// Reads one hive's Run values (and, for Machine, its Debugger values) into hive.
void ReadHive(const RunDataCalls<char16_t>& calls, VolumeHive* hive);
// The same without the base block, which the caller read from the hive's bytes.
void ReadHiveKeys(const RunDataCalls<char16_t>& calls, VolumeHive* hive);

// The steps of reading a volume's registry, for each source that finds its hives
// (a mounted volume, a disk image): the default system directory and variables; SOFTWARE's SystemRoot and
// program folders, machine being that hive; each hive read by read with the
// system's variables and its user's profile folders to expand with; and the default
// system directory again when SOFTWARE could not be read whole.
void StartSystemEnvironment(VolumeRegistry* registry);
void ReadSystemDirectory(const VolumeHive& machine, VolumeRegistry* registry);
void ReadHiveExpanded(const RunDataCalls<char16_t>& calls, const VolumeRegistry& registry, VolumeHive* hive,
                      void (*read)(const RunDataCalls<char16_t>&, VolumeHive*));
void KeepSystemDirectoryOfReadableMachine(const VolumeHive& machine, VolumeRegistry* registry);

// The name the lines give the hive.
inline const std::string& ShownPath(const VolumeHive& hive) { return hive.shown.empty() ? hive.path : hive.shown; }
