// A verdict and the trace of its checks as one line of text, so that two roads to
// the same judgement (another read layer, another word size) can be compared with
// a single EXPECT_EQ that shows where they part; and the damaged variant images
// such comparisons run over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "detect/check_trace.h"

namespace testpe {

// "variant N, stop N; A ran matched; B ran TEST required VALUE found N; ...".
std::string DescribedJudgement(Variant variant, const ScanTrace& trace);

// The whole image of the variant ('A' to 'D'), its truncations at the edges of the
// headers, the entry code and the first blocks, and copies with one byte of the
// headers, the section table or the records behind the entry code inverted.
std::vector<std::vector<uint8_t>> DamagedVariantImages(char letter);

}  // namespace testpe
