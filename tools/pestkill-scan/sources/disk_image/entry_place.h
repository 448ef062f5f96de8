// Where an entry of a disk image lies: the image, the volume (a partition of its
// table, or the whole image) and the path inside the volume; as the text lines
// name it and as the JSON members give it.
#pragma once

#include <cstdint>
#include <string>

struct VolumePlace {
  std::string image;          // the image's path as given
  int64_t partition = -1;     // the partition's slot in its table; -1: the image is the volume
  uint64_t startSector = 0;   // the partition's first sector
};

// IMAGE#pN@SECTOR, or IMAGE#volume for an image without a partition table.
std::string VolumeName(const VolumePlace& volume);

// The volume's name followed by inner, the path inside it ("/Windows/..."), and
// ":STREAM" for a named data stream.
std::string EntryPath(const VolumePlace& volume, const std::string& inner, const char* stream = nullptr);

// The volume's JSON members, each as ,"name":value: image, partition.
std::string VolumeMembers(const VolumePlace& volume);

// The entry's JSON members, each as ,"name":value: image, partition, inner_path,
// inode, deleted, stream.
std::string EntryMembers(const VolumePlace& volume, const std::string& inner, uint64_t inode, bool deleted,
                         const char* stream);
