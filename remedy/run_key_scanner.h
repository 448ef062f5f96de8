// Finds, and in removal mode deletes, the auto-start values of a Run key whose
// command line starts a given file.
#pragma once

#include <cstdint>

enum RunKeySelector : uint16_t { RunKey = 10, RunOnceKey = 11, RunServicesKey = 12 };
enum HiveSelector : uint8_t { LocalMachineHive = 21, CurrentUserHive = 22, DefaultUserHive = 23 };

// The values of skipMatching: match each value's data against the target, or only
// walk the key. Any other value walks without matching too.
enum RunKeyMatching : int32_t { MatchEachValue = 0, WalkWithoutMatching = 1 };
// The values of deleteFlag: only report matches through found, or also delete each
// matching value. Any value other than DeleteMatches only reports.
enum RunKeyRemoval : int32_t { DetectOnly = 0, DeleteMatches = 1 };

// A value starts the file when its command line names it by its text (see
// remedy/run_data_match.h) or when a local path in it names the same file, in any
// spelling (remedy/run_data_file_match.h), which the file system is asked while the
// target exists. An expandable string (REG_EXPAND_SZ) is expanded with this
// process's environment first; what it names as written still counts.
//
// 1 when the key was opened and walked; 0 for a null argument, an unknown selector
// or a key that cannot be opened. found is set to 1 at every matching value and
// never cleared. deleteFlag DeleteMatches deletes each matching value.
int32_t ScanRunKey(const char* targetPath, uint16_t key, uint8_t hive, int32_t skipMatching,
                   int32_t deleteFlag, int32_t* found);

// Removal in the Run key of the local machine, the current user and the default
// user, in that order. Always 1.
int32_t CleanRunKeys(const char* targetPath, uint16_t key, int32_t skipMatching);

// The same for a path in wide characters, with the wide registry calls: for a file
// whose name the code page cannot spell, so that its question marks are never taken
// for another name's. The data are normalised and matched by the same rules.
int32_t ScanRunKeyWide(const wchar_t* targetPath, uint16_t key, uint8_t hive, int32_t skipMatching,
                       int32_t deleteFlag, int32_t* found);
int32_t CleanRunKeysWide(const wchar_t* targetPath, uint16_t key, int32_t skipMatching);

