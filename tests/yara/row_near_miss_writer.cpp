// Writes, for each variant image, one file per row of each of its signature tables
// and per value at and on both sides of the row's bounds (low - 1, low, high,
// high + 1, where the field's width holds them):
//   row_near_miss_writer DIRECTORY
// gives DIRECTORY/variant-x/TABLE.ROW.VALUE. The rows are the detector's own
// (detect/signature_tables.h); each value is written where the detector reads the
// field, in the file.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "detect/signature_tables.h"
#include "image/pe_records.h"
#include "tests/support/variant_images.h"

namespace {

using testpe::VbImage;
using testpe::VbRecord;

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

uint32_t U32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}
uint32_t U16(const std::vector<uint8_t>& bytes, size_t at) { return bytes[at] | bytes[at + 1] << 8; }

void Store(std::vector<uint8_t>& bytes, size_t at, uint32_t width, uint32_t value) {
  if (at + width > bytes.size()) bytes.resize(at + width);
  for (uint32_t i = 0; i < width; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// File offset of a record the detector reads from the headers, or -1.
int64_t HeaderRecordOffset(const VbImage& image, const std::vector<uint8_t>& bytes, RecordId record) {
  const uint32_t pe = U32(bytes, 0x3C);
  const uint32_t table = pe + 24 + U16(bytes, pe + 20);
  const uint32_t count = U16(bytes, pe + 6);
  switch (record) {
    case EntryCodeRecord: return image.FileOffsetOf(VbRecord::EntryCode);
    case FileHeaderRecord: return pe + 4;
    case OptionalHeaderRecord: return pe + 24;
    case LastSectionRecord: return table + 40 * (count - 1);
    case Section1Record: return table;
    case Section2Record: return table + 40;
    case DataSectionRecord:
      for (uint32_t i = 0; i < count; ++i)
        if (std::string(reinterpret_cast<const char*>(&bytes[table + 40 * i]), 5) == ".data") return table + 40 * i;
      return -1;
    default: return -1;
  }
}

bool VbRecordOf(RecordId record, VbRecord* out) {
  switch (record) {
    case VbHeaderRecord: *out = VbRecord::Header; return true;
    case VbProjectInfoRecord: *out = VbRecord::ProjectInfo; return true;
    case VbComRegDataRecord: *out = VbRecord::ComRegData; return true;
    case StartCodeRecord: *out = VbRecord::StartCode; return true;
    default: return false;
  }
}

std::vector<uint32_t> ValuesAround(const FieldTest& row) {
  const uint64_t top = row.record == FileSizeRecord ? 0x7FFFFFFF : (1ull << (8 * row.width)) - 1;
  std::vector<uint32_t> values;
  if (row.low > 0) values.push_back(row.low - 1);
  values.push_back(row.low);
  if (row.high != row.low) values.push_back(row.high);
  if (row.high < top) values.push_back(row.high + 1);
  return values;
}

std::vector<uint8_t> WithValue(char variant, const FieldTest& row, uint32_t value, bool* placed) {
  VbImage image = testpe::VariantImage(variant);
  *placed = true;
  VbRecord vbRecord;
  if (row.record == FileSizeRecord) {
    image.SetFileLength(value);
    return image.Bytes();
  }
  if (VbRecordOf(row.record, &vbRecord)) {
    image.Set(vbRecord, row.offset, row.width, value);
    return image.Bytes();
  }
  std::vector<uint8_t> bytes = image.Bytes();
  const int64_t at = HeaderRecordOffset(image, bytes, row.record);
  if (at < 0) {
    *placed = false;
    return bytes;
  }
  Store(bytes, static_cast<size_t>(at) + row.offset, row.width, value);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: row_near_miss_writer DIRECTORY\n");
    return 2;
  }
  int written = 0;
  int failures = 0;
  for (Variant variant : {Variant::A, Variant::B, Variant::C, Variant::D}) {
    const SignatureTables& t = TablesOf(variant);
    const char letter = static_cast<char>('A' + (static_cast<int>(variant) - static_cast<int>(Variant::A)));
    const std::string directory = std::string(argv[1]) + "/variant-" + static_cast<char>(letter - 'A' + 'a') + "/";
    const struct {
      const char* name;
      RowTable table;
    } tables[] = {{"header", t.header},          {"section-table-head", t.sectionTableHead},
                  {"vb-header", t.vbHeader},     {"project-info", t.projectInfo},
                  {"com-reg-data", t.comRegData}, {"start-code", t.startCode},
                  {"data-section", t.dataSection}};
    for (const auto& named : tables) {
      for (size_t i = 0; i < named.table.count; ++i) {
        for (uint32_t value : ValuesAround(named.table.rows[i])) {
          bool placed = false;
          const std::vector<uint8_t> bytes = WithValue(letter, named.table.rows[i], value, &placed);
          if (!placed) {
            std::fprintf(stderr, "variant %c %s row %zu: no place in the file\n", letter, named.name, i);
            ++failures;
            continue;
          }
          char name[96];
          (void)std::snprintf(name, sizeof name, "%s.%02zu.%08X", named.name, i, value);
          if (WriteFile(directory + name, bytes)) {
            ++written;
          } else {
            std::fprintf(stderr, "%s%s: cannot write\n", directory.c_str(), name);
            ++failures;
          }
        }
      }
    }
  }
  std::printf("%d files\n", written);
  return failures == 0 ? 0 : 1;
}
