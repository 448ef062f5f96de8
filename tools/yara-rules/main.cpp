// Writes the YARA rules of the four signatures, from the detector's own tables.
//
//   yara-rules [--pe-module] [OUTPUT]      write the rules (standard output without OUTPUT)
//   yara-rules --check FILE                exit 1 when FILE differs from what would be written
//
// --pe-module writes the form that maps addresses with YARA's pe module, kept for
// measuring against the shipped integer-read form.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tools/yara-rules/rule_file.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: yara-rules [--pe-module] [OUTPUT]\n       yara-rules --check FILE\n");
  return 2;
}

bool ReadWhole(const char* path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  *text = bytes.str();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  yara_terms::Form form = yara_terms::Form::IntegerReads;
  const char* check = nullptr;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--pe-module") == 0) {
      form = yara_terms::Form::PeModule;
    } else if (std::strcmp(argv[i], "--check") == 0 && i + 1 < argc && check == nullptr) {
      check = argv[++i];
    } else if (argv[i][0] != '-' && output == nullptr) {
      output = argv[i];
    } else {
      return Usage();
    }
  }
  if (check != nullptr && (output != nullptr || form != yara_terms::Form::IntegerReads)) return Usage();

  std::string text;
  try {
    text = RuleFileText(form);
  } catch (const std::runtime_error& error) {
    std::fprintf(stderr, "yara-rules: %s\n", error.what());
    return 1;
  }
  if (check != nullptr) {
    std::string present;
    if (!ReadWhole(check, &present)) {
      std::fprintf(stderr, "yara-rules: cannot read %s\n", check);
      return 1;
    }
    if (present != text) {
      std::fprintf(stderr, "yara-rules: %s differs from the rules the signature tables give; "
                           "regenerate it with yara-rules %s\n", check, check);
      return 1;
    }
    return 0;
  }
  if (output == nullptr) return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() ? 0 : 1;
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::fprintf(stderr, "yara-rules: cannot write %s\n", output);
    return 1;
  }
  return 0;
}
