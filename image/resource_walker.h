// Depth-first search of a PE resource tree for the first data entry that passes a
// type-identifier filter and, optionally, a name filter.
#pragma once

#include <cstdint>

// Offsets are file offsets; every offset stored in the tree is relative to
// resourceBase. Returns 1 and writes the data entry's RVA and size when found.
int FindResourceEntry(int fd, const char* name, uint32_t nameLength, uint32_t identifier,
                      uint32_t directoryOffset, uint32_t resourceBase, uint32_t* dataRva,
                      uint32_t* dataSize, int depth);

// Examines one directory entry; FindResourceEntry's partner in the recursion.
int MatchResourceEntry(int fd, const char* name, uint32_t nameLength, uint32_t identifier,
                       uint32_t entryOffset, uint32_t resourceBase, uint32_t* dataRva,
                       uint32_t* dataSize, int depth);
