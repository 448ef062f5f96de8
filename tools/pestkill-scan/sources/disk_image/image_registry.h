// The registry of a Windows system volume inside a disk image: its hives found by
// name in the volume (ignoring case, as Windows names them) and read through
// libhivex, which opens only a file name, so each hive's bytes are handed to it in
// a sealed memory file named /proc/self/fd/N. Nothing is written anywhere.
#pragma once

#include <tsk/libtsk.h>

#include "tools/pestkill-scan/sources/disk_image/entry_place.h"
#include "tools/pestkill-scan/registry_rule/volume_rules.h"

// True when the volume holds Windows/System32/config with SOFTWARE or DEFAULT in
// it, a Windows system volume:
// then rules->registry holds its hives (SOFTWARE, DEFAULT, each profile's
// NTUSER.DAT; a missing or unreadable one with its error), named as lines name
// the volume's files, and rules->calls the Run data rules, with the 8.3 names the
// volume holds and its files as the Run values' paths name them (hard links, "..").
bool LoadImageRegistry(TSK_FS_INFO* fs, const VolumePlace& place, VolumeRules* rules);

// The Windows path ("C:\...") of a path inside the volume ("/..."); false when it
// is not UTF-8.
bool WindowsPathInVolume(const std::string& inner, std::u16string* windowsPath);
