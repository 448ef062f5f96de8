// SHA-256, for the quarantine manifest: the digest by which a removed file can be
// looked up and recognised again. Computed by libnettle.
#pragma once

#include <nettle/sha2.h>

#include <cstddef>
#include <string>

class Sha256 {
 public:
  Sha256();
  void Update(const void* bytes, size_t count);
  std::string HexDigest();  // lower-case hex; ends the computation

 private:
  sha256_ctx context_;
};
