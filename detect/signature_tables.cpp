#include "detect/signature_tables.h"

#include <cstdio>
#include <initializer_list>

#include "detect/file_windows.h"
#include "detect/project_path.h"
#include "detect/section_table_head.h"

namespace {

// FNV-1a, 64 bits, over the values in a fixed order and width.
class Digest {
 public:
  void Add(uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      hash_ ^= (value >> (8 * i)) & 0xFF;
      hash_ *= 0x100000001B3ull;
    }
  }
  void AddBytes(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) Add(bytes[i], 1);
  }
  void AddText(const char* text) {
    for (; *text != 0; ++text) Add(static_cast<uint8_t>(*text), 1);
    Add(0, 1);
  }
  uint64_t Value() const { return hash_; }

 private:
  uint64_t hash_ = 0xCBF29CE484222325ull;
};

void AddTable(Digest& digest, const RowTable& table) {
  digest.Add(table.count, 4);
  for (size_t i = 0; i < table.count; ++i) {
    const FieldTest& row = table.rows[i];
    digest.Add(row.record, 1);
    digest.Add(row.offset, 2);
    digest.Add(row.width, 1);
    digest.Add(row.low, 4);
    digest.Add(row.high, 4);
    digest.Add(static_cast<uint8_t>(row.accept), 1);
  }
}

void AddWindow(Digest& digest, const FileWindow& window) {
  digest.Add(static_cast<uint32_t>(window.offset), 4);
  digest.Add(window.size, 4);
}

void AddTemplate(Digest& digest, const ByteTemplate& pattern) {
  digest.AddBytes(pattern.bytes, pattern.length);
  digest.Add(pattern.length, 4);
  digest.Add(pattern.freeByte, 4);
  digest.Add(pattern.advanceAfterHit, 4);
  digest.Add(pattern.countLimit, 4);
}

void AddVariant(Digest& digest, const SignatureTables& t) {
  digest.Add(static_cast<uint8_t>(t.variant), 1);
  for (size_t i = 0; i < t.stepCount; ++i) digest.Add(static_cast<uint8_t>(t.steps[i]), 1);
  for (const RowTable* table : {&t.header, &t.sectionTableHead, &t.vbHeader, &t.projectInfo, &t.comRegData,
                                &t.startCode, &t.dataSection})
    AddTable(digest, *table);
  digest.Add(t.pairFirst, 4);
  digest.Add(t.pairSecond, 4);
  for (size_t i = 0; i < t.pairCount; ++i) {
    digest.Add(t.pairs[i][0], 4);
    digest.Add(t.pairs[i][1], 4);
  }
  for (size_t i = 0; i < t.startCodeImmediateCount; ++i) digest.Add(t.startCodeImmediates[i], 4);
  digest.Add(t.projectPathMinDigits, 4);
  if (t.nameRule != nullptr) {
    digest.Add(static_cast<uint32_t>(t.nameRule->reach), 4);
    digest.AddText(t.nameRule->required);
  }
}

}  // namespace

const SignatureTables& TablesOf(Variant variant) {
  switch (variant) {
    case Variant::B: return VariantBTables;
    case Variant::C: return VariantCTables;
    case Variant::D: return VariantDTables;
    default: return VariantATables;
  }
}

const char* SignatureSetVersion() {
  static char text[17] = {};
  if (text[0] == 0) {
    Digest digest;
    for (Variant variant : {Variant::A, Variant::B, Variant::C, Variant::D}) AddVariant(digest, TablesOf(variant));
    digest.Add(EntryCodeSize, 4);
    digest.Add(StartCodeSize, 4);
    digest.AddBytes(VersionKey, VersionKeySize);
    digest.Add(VersionBlockSize, 4);
    digest.AddText(FirstSectionName);
    digest.AddText(SecondSectionName);
    digest.Add(ComparedNameBytes, 4);
    digest.Add(ProjectPathBackslashes, 4);
    digest.AddBytes(StubPattern, StubPatternSize);
    AddWindow(digest, StubWindow);
    AddWindow(digest, RecordWindow);
    AddWindow(digest, JumpWindow);
    AddTemplate(digest, RecordTemplate);
    AddTemplate(digest, JumpTemplate);
    digest.Add(MinRecordCount, 4);
    digest.Add(MinJumpCount, 4);
    (void)std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest.Value()));
  }
  return text;
}
