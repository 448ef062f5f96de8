// Times the judgement of each hostile file shape and the resource walk of each
// hostile tree; exits 1 when the slowest is not under 50 ms.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "detect/file_signature_detector.h"
#include "image/resource_walker.h"
#include "tests/adversarial/adversarial_shapes.h"
#include "tests/support/temp_file.h"
#include "tests/support/variant_images.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double LimitMs = 50.0;
constexpr int Runs = 5;

struct Timing {
  std::string name;
  double medianMs;
};

template <typename Call>
double MedianMs(Call call) {
  std::vector<double> times;
  for (int run = 0; run < Runs; ++run) {
    Clock::time_point start = Clock::now();
    call();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

Timing TimeJudgement(const std::string& name, const std::vector<uint8_t>& bytes) {
  testpe::TempFile file(bytes);
  const char* path = file.Path().c_str();
  return {"judgement " + name, MedianMs([path] { (void)JudgeImageFile(path); })};
}

Timing TimeWalk(const adversarial::ResourceShape& shape) {
  testpe::OpenedFile opened(shape.bytes);
  uint32_t nameLength = shape.nameFilter != nullptr ? 3 : 0;
  int fd = opened.fd.get();
  return {"walk " + shape.name, MedianMs([&] {
            uint32_t rva = 0, size = 0;
            (void)FindResourceEntry(fd, shape.nameFilter, nameLength, shape.identifier, 0, 0, &rva,
                                    &size, 0);
          })};
}

}  // namespace

int main() {
  std::vector<Timing> timings;
  for (char variant : {'A', 'B', 'C', 'D'}) {
    timings.push_back(TimeJudgement(std::string("matching_variant_") + variant,
                                    testpe::VariantImage(variant).Bytes()));
  }
  for (const adversarial::ImageShape& shape : adversarial::ImageShapes())
    timings.push_back(TimeJudgement(shape.name, shape.bytes));
  for (const adversarial::ResourceShape& shape : adversarial::ResourceShapes())
    timings.push_back(TimeWalk(shape));

  const Timing* slowest = &timings.front();
  for (const Timing& timing : timings) {
    std::printf("%-64s %10.3f ms\n", timing.name.c_str(), timing.medianMs);
    if (timing.medianMs > slowest->medianMs) slowest = &timing;
  }
  std::printf("slowest: %s, %.3f ms (limit %.0f ms, median of %d runs)\n", slowest->name.c_str(),
              slowest->medianMs, LimitMs, Runs);
  return slowest->medianMs < LimitMs ? 0 : 1;
}
