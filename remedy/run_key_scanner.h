// Finds, and in removal mode deletes, the auto-start values of a Run key whose
// command line starts a given file.
#pragma once

#include <cstdint>

enum RunKeySelector : uint16_t { RunKey = 10, RunOnceKey = 11, RunServicesKey = 12 };
enum HiveSelector : uint8_t { LocalMachineHive = 21, CurrentUserHive = 22, DefaultUserHive = 23 };

// 1 when the key was opened and walked; 0 for a null argument, an unknown selector
// or a key that cannot be opened. found is set to 1 at every matching value and
// never cleared. deleteFlag 1 deletes each matching value.
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
