// Windows paths of a system volume as the Run data and the hives spell them,
// whichever source holds the volume's files.
#pragma once

#include <string>

// What a name of the volume turned out to be where a path was followed.
enum class EntryType { Missing, Directory, File, Other };

// A Windows path of the volume: "C:\..." (the drive letter in either case) with a
// relative part; false for other drives, UNC and relative paths.
bool SplitDriveC(const std::u16string& windowsPath, std::u16string* relative);
