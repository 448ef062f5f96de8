// The environment an expandable Run value of a mounted volume would be expanded
// with, as far as the volume tells it: SystemRoot (and windir, SystemDrive) and the
// program folders from SOFTWARE, and, for a user's own hive, that user's profile
// folders. Variables the volume cannot tell (another user's, a logged-on session's)
// stay as written, as the system leaves an unknown variable.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct VolumeEnvironment {
  std::vector<std::pair<std::u16string, std::u16string>> variables;  // name, value
};

// SystemRoot is the Windows path of the system folder ("C:\Windows"); programFiles
// and commonFiles are SOFTWARE's ProgramFilesDir and CommonFilesDir (with their
// " (x86)" forms), empty when it has none.
void AddSystemVariables(const std::u16string& systemRoot, const std::u16string& programFiles,
                        const std::u16string& programFilesX86, const std::u16string& commonFiles,
                        const std::u16string& commonFilesX86, VolumeEnvironment* environment);

// profile is the Windows path of the user's profile folder; olderLayout for a
// profile under "Documents and Settings" (its application data folders are named
// as Windows XP names them).
void AddProfileVariables(const std::u16string& profile, bool olderLayout, VolumeEnvironment* environment);

// The signature of the Run data matching's expansion call: expandContext is a
// VolumeEnvironment. %NAME% is replaced by its value (names compared ignoring
// case); an unknown name, a lone percent sign and "%%" stay as written.
size_t ExpandWithVolumeEnvironment(const char16_t* text, char16_t* out, size_t capacity, void* expandContext);
