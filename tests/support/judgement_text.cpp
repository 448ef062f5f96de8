#include "tests/support/judgement_text.h"

#include "tests/support/variant_images.h"

namespace testpe {

std::string DescribedJudgement(Variant variant, const ScanTrace& trace) {
  std::string text = "variant " + std::to_string(static_cast<int>(variant)) + ", stop " +
                     std::to_string(static_cast<int>(trace.stop));
  for (int i = 0; i < 4; ++i) {
    const CheckTrace& check = trace.variants[i];
    text += std::string("; ") + static_cast<char>('A' + i) + (trace.ran[i] ? " ran " : " not run ");
    if (!trace.ran[i]) continue;
    text += check.matched ? "matched"
                          : std::string(check.failedTest ? check.failedTest : "?") + " required " + check.required;
    if (check.hasFound) text += " found " + std::to_string(check.found);
  }
  return text;
}

std::vector<std::vector<uint8_t>> DamagedVariantImages(char letter) {
  const std::vector<uint8_t> whole = VariantImage(letter).Bytes();
  std::vector<std::vector<uint8_t>> images = {whole};
  for (size_t length : {size_t{0}, size_t{63}, size_t{1023}, size_t{1024}, size_t{0x1000}, size_t{0x1200},
                        size_t{0x1400}, size_t{0x4000}, whole.size() / 2, whole.size() - 1})
    if (length <= whole.size()) images.emplace_back(whole.begin(), whole.begin() + length);
  // Every 13th byte, and every 7th one that is not zero (and every 49th that is).
  for (size_t at = 0; at < 0x1400 && at < whole.size(); ++at) {
    const bool seventh = at % 7 == 0 && (whole[at] != 0 || at % 49 == 0);
    if (!seventh && at % 13 != 0) continue;
    std::vector<uint8_t> flipped = whole;
    flipped[at] ^= 0xFF;
    images.push_back(flipped);
  }
  return images;
}

}  // namespace testpe
