// Formats told by their first bytes, for the lines about what the disk image
// library could not read: a container it does not read (it takes any file it cannot
// place for a raw image, and would report a disk without a file system), and a
// volume whose boot sector names a file system it then failed to open (so that a
// volume lost to the library is an error, not a partition passed over).
#pragma once

#include <cstddef>
#include <cstdint>

// The format's name ("QCOW2", "VHDX", "a BitLocker volume"), or null when head
// (the image's first length bytes) starts none of them.
const char* UnreadContainerFormat(const uint8_t* head, size_t length);

// Bytes of a volume's start that VolumeFormatNamed looks at (the ext superblock
// lies at 1024).
constexpr size_t VolumeHeadBytes = 2048;

// "NTFS", "exFAT", "FAT" or "ext" when head (a volume's first length bytes) holds
// that file system's signature, else null.
const char* VolumeFormatNamed(const uint8_t* head, size_t length);
