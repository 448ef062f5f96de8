// Writes one image per structural signature (variant-a.exe to variant-d.exe) into
// a directory, for end-to-end tests, the demonstration and fuzzing seeds. Each
// image matches exactly one signature; none of them runs: the entry code only
// pushes an address and calls backwards into zeros.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/variant_images.h"

namespace {

int Usage(FILE* out) {
  std::fprintf(out,
               "usage: make-variant-images DIRECTORY\n"
               "Writes variant-a.exe, variant-b.exe, variant-c.exe and variant-d.exe into DIRECTORY,\n"
               "each an image that matches that structural signature only.\n");
  return out == stdout ? 0 : 2;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) return Usage(stdout);
  if (argc != 2) return Usage(stderr);

  std::string directory = argv[1];
  if (!directory.empty() && directory.back() != '/' && directory.back() != '\\') directory += '/';
  int failures = 0;
  for (char variant : {'A', 'B', 'C', 'D'}) {
    const std::string path = directory + "variant-" + static_cast<char>(variant - 'A' + 'a') + ".exe";
    if (WriteFile(path, testpe::VariantImage(variant).Bytes())) {
      std::printf("%s\n", path.c_str());
    } else {
      std::fprintf(stderr, "%s: cannot write\n", path.c_str());
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
