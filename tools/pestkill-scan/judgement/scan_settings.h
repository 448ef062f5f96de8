// What the command line says of how files are judged and reported, whichever
// source they come from (a tree, a file list, a mounted volume, a disk image).
#pragma once

#include <vector>

struct ScanSettings {
  bool listClean = false;     // -a, --all: a line for every file, also clean ones and those passed over
  bool showVariant = false;   // --variant: name the variant that matched
  bool explain = false;       // --explain: why each file matched or did not
  bool json = false;          // --json: one JSON object per file on standard output
  bool nullEnded = false;     // -0, --null: raw names, lines ended by NUL; NUL-separated file list
  int jobs = 0;               // -j, --jobs N: files judged at once (0 until parsed: the number of cores)
  std::vector<const char*> excludes;  // --exclude GLOB, in the order given
};
