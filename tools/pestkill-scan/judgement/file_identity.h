// A file as its file system knows it, whatever name it was reached by: the device
// (or volume) and the file's number on it. Equal identities are one file.
#pragma once

#include <cstdint>

struct FileIdentity {
  uint64_t device = 0;
  uint64_t file = 0;
};
