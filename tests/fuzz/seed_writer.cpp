// Writes the fuzz targets' starting corpora, built in code at build time:
//   seed_writer JUDGEMENT_DIR WALKER_DIR
// Judgement seeds: the hostile shapes, a plain image with a version resource and
// each variant image with one change (the images themselves come from
// make-variant-images). Walker seeds: the filter
// bytes the walker target expects, then a resource tree.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/adversarial/adversarial_shapes.h"
#include "tests/support/pe_image_builder.h"
#include "tests/support/variant_images.h"

namespace {

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

// A type-16 tree as linkers lay it out: type, name and language directories, with
// an InternalName key in the data, plus a named type before it.
testpe::ResourceDirectory VersionTree() {
  std::vector<uint8_t> block(480, 0);
  const std::u16string key = u"InternalName";
  std::vector<uint8_t> text = testpe::Utf16Le(key + u'\0' + u"ABCDEFGH" + u'\0');
  for (size_t i = 0; i < text.size(); ++i) block[100 + i] = text[i];
  testpe::ResourceDirectory languages{{testpe::IdData(0x409, block)}};
  testpe::ResourceDirectory names{{testpe::IdDirectory(1, languages)}};
  testpe::ResourceDirectory namedNames{{testpe::IdData(0x409, {1, 2, 3, 4})}};
  return testpe::ResourceDirectory{
      {testpe::NamedDirectory(u"ABC", namedNames), testpe::IdDirectory(16, names)}};
}

std::vector<uint8_t> WithFilter(uint8_t identifier, const char* name, std::vector<uint8_t> tree) {
  std::vector<uint8_t> bytes(8, 0);
  bytes[0] = identifier;
  if (name != nullptr) {
    bytes[1] = 3;
    for (int i = 0; i < 3; ++i) bytes[2 + i] = static_cast<uint8_t>(name[i]);
  }
  bytes.insert(bytes.end(), tree.begin(), tree.end());
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: seed_writer JUDGEMENT_DIR WALKER_DIR\n");
    return 2;
  }
  const std::string judgement = std::string(argv[1]) + "/";
  const std::string walker = std::string(argv[2]) + "/";
  bool ok = true;

  for (const adversarial::ImageShape& shape : adversarial::ImageShapes()) {
    if (shape.bytes.size() > 1024 * 1024) continue;  // libFuzzer's default input limit
    ok = WriteFile(judgement + shape.name, shape.bytes) && ok;
  }
  testpe::PeImage image;
  image.Optional().AddressOfEntryPoint = 0x1000;
  image.AddSection(".text", 0x1000, 0x1000, 0x400, 0x1000, testpe::CodeSection,
                   std::vector<uint8_t>(0x1000, 0xCC));
  image.AddSection(".data", 0x2000, 0x1000, 0, 0, testpe::DataSection);
  const testpe::ResourceLayout layout = image.SetResourceTree(VersionTree(), 0x3000, 0x1400);
  std::vector<uint8_t> bytes = image.Bytes();
  ok = WriteFile(judgement + "plain_image_with_version_resource", bytes) && ok;

  for (char variant : {'A', 'B', 'C', 'D'}) {
    const std::string prefix = judgement + "variant_" + variant;
    testpe::VbImage image = testpe::VariantImage(variant);
    image.Set(testpe::VbRecord::Header, 0x04, 2, image.Get(testpe::VbRecord::Header, 0x04, 2) + 1);
    ok = WriteFile(prefix + "_vb_header_field_changed", image.Bytes()) && ok;
    testpe::VbImage renamed = testpe::VariantImage(variant);
    renamed.SetInternalName(u"ABCDEFGHI");
    ok = WriteFile(prefix + "_internal_name_nine_letters", renamed.Bytes()) && ok;
    std::vector<uint8_t> cut = testpe::VariantImage(variant).Bytes();
    cut.pop_back();
    ok = WriteFile(prefix + "_last_byte_cut", cut) && ok;
  }

  std::vector<uint8_t> tree(bytes.begin() + layout.BaseFileOffset,
                            bytes.begin() + layout.BaseFileOffset + layout.Size);
  ok = WriteFile(walker + "version_tree_by_type", WithFilter(16, nullptr, tree)) && ok;
  ok = WriteFile(walker + "version_tree_by_name", WithFilter(0, "ABC", tree)) && ok;
  for (const adversarial::ResourceShape& shape : adversarial::ResourceShapes()) {
    ok = WriteFile(walker + shape.name,
                   WithFilter(static_cast<uint8_t>(shape.identifier), shape.nameFilter, shape.bytes)) &&
         ok;
  }
  if (!ok) std::perror("seed_writer");
  return ok ? 0 : 1;
}
