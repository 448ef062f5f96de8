// SHA-256, for the quarantine manifest: the digest by which a removed file can be
// looked up and recognised again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
 public:
  Sha256();
  void Update(const void* bytes, size_t count);
  std::string HexDigest();  // lower-case hex; ends the computation

 private:
  void Block(const uint8_t* block);
  uint32_t state_[8];
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t length_ = 0;
};
