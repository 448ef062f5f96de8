// Paths on a mounted Windows volume. NTFS compares names ignoring case, a Linux
// mount does not: every component is looked up as written first, then ignoring
// case. Symbolic links on the volume (ntfs-3g shows junctions such as "Documents
// and Settings" as links) are never followed, so nothing outside the volume is
// read or written through them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "remedy/run_data_match.h"
#include "tools/pestkill-scan/registry_rule/windows_path.h"


// The entry of directory whose name equals name ignoring case (the exact spelling
// wins; among several others the first in byte order). Its type comes from lstat,
// so a link is Other. *found receives its name as stored.
EntryType FindEntryIgnoringCase(const std::string& directory, const std::u16string& name, std::string* found);

// The names of the subdirectories of directory (not links), in byte order.
std::vector<std::string> ListSubdirectories(const std::string& directory);

// Resolves relative, components separated by '\' or '/', below root. False when a
// component is missing, is "." or "..", or is not a directory where one is needed.
// *host is root joined with the stored names; *hostComponents the stored names.
bool ResolveBelowRoot(const std::string& root, const std::u16string& relative, std::string* host,
                      std::vector<std::string>* hostComponents, EntryType* type);


// The Windows path "C:\A\B" of host path root/A/B; false when host does not lie
// below root or its name is not UTF-8.
bool WindowsPathOf(const std::string& root, const std::string& host, std::u16string* windowsPath);

// What the volume tells about short (8.3) names: the DOS name that ntfs-3g shows in
// the "system.ntfs_dos_name" attribute, or nothing (empty) when the file has none or
// the mount does not expose it.
using DosNameLookup = std::string (*)(const std::string& hostPath);
std::string NtfsDosName(const std::string& hostPath);

struct VolumeShortForms {
  std::string root;
  DosNameLookup lookUp = NtfsDosName;
};

// The short form of an existing path of the volume, as the system's short-path call
// gives it: each component that has a DOS name is replaced by it, the others stay as
// written. The signature of the Run data matching's short-form call: context is a
// VolumeShortForms. Returns the length, 0 when the path does not exist on the volume
// (or names another drive), or a value of capacity or more when it does not fit.
size_t ShortFormOnVolume(const char16_t* path, char16_t* out, size_t capacity, void* context);

// Which file of the volume a Windows path names, as the system would open it: "."
// and ".." resolved by the text (".." at the root stays there), '/' taken for '\',
// each name found ignoring case, or by its DOS name where the volume gives one. Only
// regular files answer, and links are never followed. *file is the file's device
// and inode. The signature of the Run data matching's file call: context is a
// VolumeShortForms. False for other drives than C:, missing files and the rest.
bool IdentifyFileOnVolume(const char16_t* path, RunDataFileId* file, void* context);

// The Run data rules on the volume: the rule's own calls (OfflineRunDataCalls) with
// the volume's short forms and its files by device and inode.
RunDataCalls<char16_t> MountedVolumeRunDataCalls(VolumeShortForms* volume);
