// Which file of an NTFS volume inside a disk image a Windows path names, answered
// as the same volume mounted through ntfs-3g answers it to IdentifyFileOnVolume
// (windows_root/volume_path.h), so that the Run data of a volume read from an image
// and of that volume mounted match the same files.
#pragma once

#include "remedy/run_data_match.h"

// The Run data matching's file call inside an image: context is the volume's
// TSK_FS_INFO. Only "C:\..." is known. "." and ".." are resolved by the text (".."
// at the root stays there), '/' is taken for '\' and empty components are dropped.
// Each name is found as written (its long or its 8.3 name), else ignoring case, else,
// when it holds a '~', by its 8.3 name ignoring case; among several, the first in
// byte order. Every component but the last is a directory and the last a regular
// file; none is what the mount shows as a link, a pipe, a socket or a device (a
// reparse point, an Interix special file), so no link is followed. *file is the
// volume's byte offset in the image and the file's MFT entry, which hard links share.
bool IdentifyFileInImage(const char16_t* path, RunDataFileId* file, void* context);
