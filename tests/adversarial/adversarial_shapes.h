// Hostile file shapes: images whose header fields, section tables and resource
// trees are built to make a careless reader crash, read out of bounds, loop or
// take exponential time. Shared by the portable tests and bench/adversarial.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace adversarial {

// A whole file for the judgement (JudgeImageFile / ScanImageFile).
struct ImageShape {
  std::string name;
  std::vector<uint8_t> bytes;
};

// A resource section on its own for the walker: the tree's root directory and the
// resource base are at file offset 0; identifier and name are the walk's filter.
struct ResourceShape {
  std::string name;
  std::vector<uint8_t> bytes;
  uint32_t identifier;
  const char* nameFilter;  // null: no name filter
};

std::vector<ImageShape> ImageShapes();
// Trees that loop, nest past the depth limit, claim entries the file does not
// hold, or share subdirectories among many entries (a walk that searches a shared
// directory again for each entry leading to it visits width^50 entries).
std::vector<ResourceShape> ResourceShapes();

// A variant-A image whose resource table is replaced by the given tree: every
// header and Visual Basic test passes, so the judgement reaches the resource walk
// and stops there (no version data can be found in these trees).
ImageShape VariantAWithTree(const ResourceShape& tree);

// GoogleTest prints a parameter by its name.
inline void PrintTo(const ImageShape& shape, std::ostream* os) { *os << shape.name; }
inline void PrintTo(const ResourceShape& shape, std::ostream* os) { *os << shape.name; }

}  // namespace adversarial
