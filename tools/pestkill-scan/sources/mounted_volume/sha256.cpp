#include "tools/pestkill-scan/sources/mounted_volume/sha256.h"

#include <cstdint>

Sha256::Sha256() { sha256_init(&context_); }

void Sha256::Update(const void* bytes, size_t count) {
  sha256_update(&context_, count, static_cast<const uint8_t*>(bytes));
}

std::string Sha256::HexDigest() {
  static const char Hex[] = "0123456789abcdef";
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&context_, sizeof digest, digest);
  std::string text;
  for (uint8_t byte : digest) {
    text += Hex[byte >> 4];
    text += Hex[byte & 0xF];
  }
  return text;
}
