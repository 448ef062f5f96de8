#include "tools/yara-rules/rule_file.h"

#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <stdexcept>
#include <vector>

#include "detect/file_windows.h"
#include "detect/project_path.h"
#include "detect/section_table_head.h"
#include "detect/signature_tables.h"
#include "detect/version_name.h"
#include "image/pe_records.h"
#include "image/vb_header_reader.h"

using namespace yara_terms;

namespace {

// What the file says about itself, before the rules.
const char Preamble[] =
    "// YARA rules for Trojan.Kestrelon.Gen, one per structural variant, written by\n"
    "// tools/yara-rules from the signature tables of pestkill's detector: do not edit;\n"
    "// regenerate. A hit is a candidate: confirm it with pestkill-scan.\n"
    "//\n"
    "// Every file the detector finds, its variant's rule matches. Where a test of the\n"
    "// detector cannot be said in a YARA condition, the rule says something weaker that\n"
    "// every such file satisfies, never something stronger:\n"
    "//   - InternalName: the detector reads the first 480 bytes of the data of the first\n"
    "//     version resource its walk of the resource tree reaches and wants the key\n"
    "//     within them; the rule wants the resource table's address to map inside the\n"
    "//     file and takes the key anywhere in it, with the value the variant wants after\n"
    "//     it.\n"
    "//   - Record and jump counts: the detector moves on by a fixed step after each hit;\n"
    "//     the rule counts every position of the window where the template matches.\n"
    "//   - Project path: the detector wants exactly two backslashes, and the digits,\n"
    "//     before the first unit whose low byte is 0; the rule wants at least two\n"
    "//     backslashes and the digits anywhere among the 264 units of the field (YARA\n"
    "//     nests loops only four deep).\n"
    "//   - The .data section header: the detector takes the first header of that name\n"
    "//     (compared ignoring case); the rule takes any.\n"
    "//   - Reads that stop at the end of the file: the detector reads the file and\n"
    "//     optional headers with what is missing as zeros, but only judges a file whose\n"
    "//     section table, which follows them, lies whole inside it; a rule's read past\n"
    "//     the end is undefined and fails, as the detector's exact reads do.\n"
    "// Neither the detector nor the rules test the \"MZ\" and \"PE\" magic: a damaged\n"
    "// magic does not hide a file. Addresses are mapped as the detector maps them: the\n"
    "// section table from its end, the last section's end included, raw data offsets\n"
    "// rounded down in units of at most 512 bytes unless the image is native, and an\n"
    "// address below every section mapped to itself.\n";

const char PeModulePreamble[] =
    "//\n"
    "// This form maps addresses with the pe module's pe.rva_to_offset, which differs from\n"
    "// the detector's mapping on hostile section tables, and the pe module parses every\n"
    "// file and needs the magic: it is written for measurement only.\n"
    "import \"pe\"\n";

struct Condition {
  std::vector<std::string> terms;
  void Add(const std::string& term) {
    if (!term.empty()) terms.push_back(term);
  }
  std::string Joined(const std::string& indent) const {
    std::string text;
    for (size_t i = 0; i < terms.size(); ++i) text += (i == 0 ? "" : " and\n" + indent) + terms[i];
    return text;
  }
};

// Rows of one record from a table that mixes records (the header rows).
std::vector<FieldTest> RowsOf(const RowTable& table, RecordId record) {
  std::vector<FieldTest> rows;
  for (size_t i = 0; i < table.count; ++i)
    if (table.rows[i].record == record) rows.push_back(table.rows[i]);
  return rows;
}

std::string Rows(const std::vector<FieldTest>& rows, const std::string& at, const std::string& indent) {
  return rows.empty() ? std::string() : RowTests(rows.data(), rows.size(), at, indent);
}

std::string Rows(const RowTable& table, const std::string& at, const std::string& indent) {
  return table.count == 0 ? std::string() : RowTests(table.rows, table.count, at, indent);
}

bool Has(const SignatureTables& t, SignatureStep step) {
  for (size_t i = 0; i < t.stepCount; ++i)
    if (t.steps[i] == step) return true;
  return false;
}

std::string Ind(int depth) { return std::string(4 + 2 * depth, ' '); }

// The count of sections the header rows fix: the address mapping is written out
// for that many.
uint32_t FixedSectionCount(const SignatureTables& t) {
  for (size_t i = 0; i < t.header.count; ++i) {
    const FieldTest& row = t.header.rows[i];
    if (row.record == FileHeaderRecord && row.offset == offsetof(IMAGE_FILE_HEADER, NumberOfSections) &&
        row.low == row.high)
      return row.low;
  }
  throw std::runtime_error("the header rows do not fix NumberOfSections");
}

std::string ByteIs(const std::string& at, uint8_t value) { return "uint8(" + at + ") == " + Hex(value); }

std::string Plus(const std::string& base, uint64_t offset) { return offset == 0 ? base : base + " + " + Hex(offset); }

// A record read whole at offset `at`: inside the file, and (for minimumOffset 1)
// not at offset 0.
std::string Whole(const std::string& at, uint32_t size, bool positive) {
  return (positive ? at + " > 0 and " : std::string()) + at + " + " + Hex(size) + " <= filesize";
}

// The first ComparedNameBytes of a section name, byte for byte.
std::string NameStartsWith(const std::string& header, const char* name) {
  std::string text;
  for (uint32_t i = 0; i < ComparedNameBytes; ++i)
    text += (i == 0 ? "" : " and ") + ByteIs(header + " + " + Hex(i), static_cast<uint8_t>(name[i]));
  return text;
}

// The C string of a section's eight name bytes equals name, ignoring the case of
// A-Z.
std::string NameIs(const std::string& header, const char* name) {
  std::string text;
  size_t i = 0;
  for (; name[i] != 0; ++i) {
    const char c = name[i];
    const std::string at = header + " + " + Hex(i);
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    text += (i == 0 ? "" : " and ") +
            (letter ? "(uint8(" + at + ") | 0x20) == " + Hex(static_cast<uint8_t>(c | 0x20))
                    : ByteIs(at, static_cast<uint8_t>(c)));
  }
  if (i < IMAGE_SIZEOF_SHORT_NAME) text += " and " + ByteIs(header + " + " + Hex(i), 0);
  return text;
}

// The template matches at window + i (its free byte aside).
std::string TemplateAt(const ByteTemplate& pattern, const std::string& window) {
  std::string text;
  for (uint32_t j = 0; j < pattern.length; ++j) {
    if (j == pattern.freeByte) continue;
    text += (text.empty() ? "" : " and ") + ByteIs(window + " + i + " + Hex(j), pattern.bytes[j]);
  }
  return text;
}

std::string CountWindow(const FileWindow& window, const ByteTemplate& pattern, uint32_t minimum) {
  // Positions below the window's length less the template's are tested
  // (detect/template_count.h).
  return Whole(Hex(static_cast<uint32_t>(window.offset)), window.size, false) + " and\n" + Ind(0) + "for " +
         Hex(minimum) + " i in (0.." + Hex(window.size - pattern.length - 1) + ") : (" +
         TemplateAt(pattern, Hex(static_cast<uint32_t>(window.offset))) + ")";
}

std::string StubWindowTest() {
  const std::string at = Hex(static_cast<uint32_t>(StubWindow.offset));
  std::string match;
  for (uint32_t j = 0; j + 4 <= StubPatternSize; j += 4) {
    const uint32_t word = StubPattern[j] | StubPattern[j + 1] << 8 | StubPattern[j + 2] << 8 * 2 |
                          static_cast<uint32_t>(StubPattern[j + 3]) << 8 * 3;
    match += (j == 0 ? "" : " and ") + std::string("uint32(") + at + " + q + " + Hex(j) + ") == " + Hex(word);
  }
  static_assert(StubPatternSize % 4 == 0, "the stub pattern is compared in 32-bit words");
  return Whole(at, StubWindow.size, false) + " and\n" + Ind(0) + "for any q in (0.." +
         Hex(StubWindow.size - StubPatternSize) + ") : (" + match + ")";
}

std::string KeyString() {
  std::string text = "$internal_name = {";
  for (size_t i = 0; i < VersionKeySize; ++i) {
    char byte[4];
    (void)std::snprintf(byte, sizeof byte, " %02X", VersionKey[i]);
    text += byte;
  }
  return text + " }  // \"InternalName\" and its zero unit, UTF-16LE";
}

// Low byte of unit n of the InternalName value after the key at k.
std::string ValueByte(int unit) { return "uint8(@internal_name[k] + " + Hex(VersionKeySize + 2 * unit) + ")"; }
std::string IsDigit(const std::string& b) { return "(" + b + " >= 0x30 and " + b + " <= 0x39)"; }

std::string VersionNameTest(const NameRule* rule) {
  std::string value;
  if (rule == &NameRuleA) {
    // Eight characters, none a digit.
    value = "for all n in (0..8) : (uint8(@internal_name[k] + " + Hex(VersionKeySize) +
            " + 2 * n) < 0x30 or uint8(@internal_name[k] + " + Hex(VersionKeySize) + " + 2 * n) > 0x39) and " +
            ValueByte(8) + " == 0 and " + ValueByte(7) + " != 0";
  } else if (rule == &NameRuleB) {
    // One or two digits, then the terminating zero.
    value = IsDigit(ValueByte(0)) + " and (" + ValueByte(1) + " == 0 or (" + IsDigit(ValueByte(1)) + " and " +
            ValueByte(2) + " == 0))";
  } else {
    throw std::runtime_error("a name rule without a YARA form");
  }
  return "for any k in (1..#internal_name) : (@internal_name[k] + " + Hex(static_cast<uint32_t>(rule->reach)) +
         " <= filesize and\n" + Ind(1) + value + ")";
}

std::string RuleText(const SignatureTables& t, Form form) {
  for (size_t i = 0; i < t.stepCount; ++i) {
    switch (t.steps[i]) {
      case SignatureStep::HeaderRows: case SignatureStep::IsVbProgram: case SignatureStep::SectionTableHeadRows:
      case SignatureStep::VbHeaderRows: case SignatureStep::ProjectInfoRows: case SignatureStep::ProjectInfoPair:
      case SignatureStep::ComRegDataRows: case SignatureStep::StartCodeRows:
      case SignatureStep::StartCodeImmediatesEqual: case SignatureStep::DataSectionRows:
      case SignatureStep::ProjectPath: case SignatureStep::StubWindow: case SignatureStep::RecordWindow:
      case SignatureStep::JumpWindow: case SignatureStep::VersionName: break;
      default: throw std::runtime_error("a step without a YARA form");
    }
  }
  const uint32_t sections = FixedSectionCount(t);
  const char letter = static_cast<char>('A' + (static_cast<int>(t.variant) - static_cast<int>(Variant::A)));
  Condition top;

  // The headers, read at fixed offsets from e_lfanew: a file that is not such an
  // image fails here within a few reads.
  top.Add(Rows(RowsOf(t.header, FileSizeRecord), "", Ind(0)));
  top.Add(Rows(RowsOf(t.header, FileHeaderRecord), FileHeader(), Ind(0)));
  top.Add(Rows(RowsOf(t.header, OptionalHeaderRecord), OptionalHeader(), Ind(0)));
  // The last section header is read whole, or the file is not judged.
  const std::string last = SectionHeader(sections - 1);
  top.Add(last + " + " + Hex(sizeof(IMAGE_SECTION_HEADER)) + " <= filesize");
  top.Add(Rows(RowsOf(t.header, LastSectionRecord), last, Ind(0)));
  if (Has(t, SignatureStep::SectionTableHeadRows)) {
    top.Add(Whole(SectionTable(), SectionTableHeadSize, false));
    std::vector<FieldTest> first = RowsOf(t.sectionTableHead, Section1Record);
    std::vector<FieldTest> second = RowsOf(t.sectionTableHead, Section2Record);
    top.Add(Rows(first, SectionHeader(0), Ind(0)));
    top.Add(Rows(second, SectionHeader(1), Ind(0)));
    top.Add(NameStartsWith(SectionHeader(0), FirstSectionName));
    top.Add(NameStartsWith(SectionHeader(1), SecondSectionName));
  }
  // The fixed windows: cheap reads at fixed offsets.
  if (Has(t, SignatureStep::StubWindow)) top.Add(StubWindowTest());
  if (Has(t, SignatureStep::RecordWindow)) top.Add(CountWindow(RecordWindow, RecordTemplate, MinRecordCount));
  if (Has(t, SignatureStep::JumpWindow)) top.Add(CountWindow(JumpWindow, JumpTemplate, MinJumpCount));

  // The entry code, and the Visual Basic records behind it.
  Condition entry;
  entry.Add(Whole("e", EntryCodeSize, false));
  entry.Add(Rows(RowsOf(t.header, EntryCodeRecord), "e", Ind(1)));
  Condition header;
  if (Has(t, SignatureStep::IsVbProgram)) {
    entry.Add(ByteIs(Plus("e", 0), PushImm32Opcode) + " and " + ByteIs(Plus("e", EntryCallOpcode), CallRel32Opcode));
    header.Add(Whole("h", sizeof(VbHeader), true));
    header.Add("uint32(h) == " + Hex(LoadU32Le(VbMagic, 0)));  // "VB5!"
    header.Add(Rows(t.vbHeader, "h", Ind(2)));

    const bool projectInfo = Has(t, SignatureStep::ProjectInfoRows) || Has(t, SignatureStep::ProjectInfoPair) ||
                             Has(t, SignatureStep::ProjectPath);
    if (projectInfo) {
      Condition info;
      info.Add(Whole("p", sizeof(VbProjectInfo), true));
      info.Add(Rows(t.projectInfo, "p", Ind(3)));
      if (Has(t, SignatureStep::ProjectInfoPair)) {
        std::string pairs;
        for (size_t i = 0; i < t.pairCount; ++i)
          pairs += (i == 0 ? "" : " or ") + std::string("(uint32(p + ") + Hex(t.pairFirst) + ") == " +
                   Hex(t.pairs[i][0]) + " and uint32(p + " + Hex(t.pairSecond) + ") == " + Hex(t.pairs[i][1]) + ")";
        info.Add("(" + pairs + ")");
      }
      if (Has(t, SignatureStep::ProjectPath)) {
        const std::string unit = "uint8(p + " + Hex(VbProjectInfoProjectPath) + " + 2 * i)";
        info.Add("for " + Hex(ProjectPathBackslashes) + " i in (0.." + Hex(VbProjectPathUnits - 1) + ") : (" + unit +
                 " == 0x5C)");
        if (t.projectPathMinDigits > 0)
          info.Add("for " + Hex(t.projectPathMinDigits) + " i in (0.." + Hex(VbProjectPathUnits - 1) + ") : (" +
                   IsDigit(unit) + ")");
      }
      header.Add("for any p in (" +
                 VaToOffset(form, "uint32(h + " + Hex(VbHeaderProjectInfoAddress) + ")", sections) + ") : (\n" +
                 Ind(3) + info.Joined(Ind(3)) + ")");
    }
    if (Has(t, SignatureStep::ComRegDataRows)) {
      const std::string address = "uint32(h + " + Hex(VbHeaderComRegDataAddress) + ")";
      header.Add(address + " != 0");
      header.Add("for any c in (" + VaToOffset(form, address, sections) + ") : (\n" + Ind(3) +
                 Whole("c", sizeof(VbComRegData), true) + " and\n" + Ind(3) + Rows(t.comRegData, "c", Ind(3)) + ")");
    }
    if (Has(t, SignatureStep::StartCodeRows)) {
      Condition code;
      code.Add(Whole("k", StartCodeSize, true));
      code.Add(Rows(t.startCode, "k", Ind(3)));
      if (Has(t, SignatureStep::StartCodeImmediatesEqual))
        for (size_t i = 1; i < t.startCodeImmediateCount; ++i)
          code.Add("uint32(k + " + Hex(t.startCodeImmediates[i]) + ") == uint32(k + " +
                   Hex(t.startCodeImmediates[0]) + ")");
      header.Add("for any k in (" + VaToOffset(form, "uint32(h + " + Hex(VbHeaderStartCodeAddress) + ")", sections) +
                 ") : (\n" + Ind(3) +
                 code.Joined(Ind(3)) + ")");
    }
    entry.Add("for any h in (" + VaToOffset(form, "uint32(e + " + Hex(EntryPushedAddress) + ")", sections) +
              ") : (\n" + Ind(2) +
              header.Joined(Ind(2)) + ")");
  }
  const std::string entryRva = "uint32(" + OptionalHeader() + " + " +
                               Hex(offsetof(OptionalHeader32, AddressOfEntryPoint)) + ")";
  top.Add("for any e in (" + RvaToOffset(form, entryRva, sections) + ") : (\n" + Ind(1) + entry.Joined(Ind(1)) + ")");

  if (Has(t, SignatureStep::DataSectionRows)) {
    const std::string at = "(" + SectionTable() + " + 0x28 * s)";
    top.Add("for any s in (0.." + Hex(sections - 1) + ") : (" + NameIs(at, SecondSectionName) + " and\n" + Ind(1) +
            Rows(t.dataSection, at, Ind(1)) + ")");
  }
  std::string strings;
  if (Has(t, SignatureStep::VersionName)) {
    strings = "  strings:\n    " + KeyString() + "\n";
    // The resource table's RVA (data directory 2) maps inside the file, where the
    // walk starts.
    const std::string resources = "uint32(" + OptionalHeader() + " + " + Hex(ResourceDirectoryEntryOffset) + ")";
    top.Add("for any r in (" + RvaToOffset(form, resources, sections) + ") : (r > 0 and r < filesize)");
    top.Add(VersionNameTest(t.nameRule));
  }

  std::string text = std::string("rule Kestrelon_") + letter + " {\n  meta:\n";
  text += "    family = \"Trojan.Kestrelon.Gen\"\n";
  text += std::string("    variant = \"") + letter + "\"\n";
  text += std::string("    version = \"") + SignatureSetVersion() + "\"\n";
  text += strings + "  condition:\n" + Ind(0) + top.Joined(Ind(0)) + "\n}\n";
  return text;
}

}  // namespace

std::string RuleFileText(Form form) {
  std::string text = Preamble;
  text += std::string("//\n// Signature set ") + SignatureSetVersion() + ".\n";
  if (form == Form::PeModule) text += PeModulePreamble;
  for (Variant variant : {Variant::A, Variant::B, Variant::C, Variant::D}) text += "\n" + RuleText(TablesOf(variant), form);
  return text;
}
