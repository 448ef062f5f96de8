#include "tools/pestkill-scan/report/explanation.h"

#include "detect/check_trace.h"
#include "detect/signatures.h"
#include "tools/pestkill-scan/report/json_text.h"

namespace {

const char VariantLetters[] = "ABCD";

// A short key for scripts and a sentence for people, per place the judgement ended.
struct StopWords {
  const char* key;
  const char* reason;
};

StopWords WordsFor(ScanStop stop) {
  switch (stop) {
    case ScanStop::Checked: return {"checked", ""};
    case ScanStop::CannotOpen: return {"cannot open", "the file cannot be opened"};
    case ScanStop::NoEntryOffset: return {"no entry offset", "the entry point has no file offset"};
    case ScanStop::ShortEntryCode:
      return {"short entry code", "fewer than 1024 bytes of entry code at the entry point's file offset"};
    case ScanStop::NoLastSection: return {"no last section", "the last section header cannot be read"};
  }
  return {"unknown", "unknown"};
}

enum class Outcome { Matches, NoMatch, NotRun };

Outcome OutcomeOf(const ScanTrace& trace, int index) {
  if (trace.stop != ScanStop::Checked || !trace.ran[index]) return Outcome::NotRun;
  return trace.variants[index].matched ? Outcome::Matches : Outcome::NoMatch;
}

// The first variant that matched, the one that made the later ones "not run".
char MatchedLetter(const ScanTrace& trace) {
  for (int i = 0; i < 4; ++i) {
    if (OutcomeOf(trace, i) == Outcome::Matches) return VariantLetters[i];
  }
  return 0;
}

const char* TestLabel(const CheckTrace& check) {
  return check.failedTest != nullptr ? check.failedTest : "(unnamed test)";
}

std::string NotReadReason(uint64_t size) {
  char text[128];
  (void)std::snprintf(text, sizeof text,
                      "the file is %llu bytes, shorter than the %d bytes of entry code the checks need; not read",
                      static_cast<unsigned long long>(size), EntryCodeSize);
  return text;
}

}  // namespace

std::string NotCheckedReason(const FileExplanation& why) {
  if (why.notRead || why.trace == nullptr) return NotReadReason(why.size);
  if (why.trace->stop == ScanStop::Checked) return std::string();
  return StopReason(why.trace->stop);
}

const char* StopReason(ScanStop stop) { return WordsFor(stop).reason; }

void PutExplanationText(FILE* out, const FileExplanation& why) {
  const std::string notChecked = NotCheckedReason(why);
  if (!notChecked.empty()) {
    (void)std::fprintf(out, "  not checked: %s\n", notChecked.c_str());
    return;
  }
  const ScanTrace& trace = *why.trace;
  const char matched = MatchedLetter(trace);
  for (int i = 0; i < 4; ++i) {
    (void)std::fprintf(out, "  variant %c: ", VariantLetters[i]);
    const CheckTrace& check = trace.variants[i];
    switch (OutcomeOf(trace, i)) {
      case Outcome::Matches:
        (void)std::fputs("matches\n", out);
        break;
      case Outcome::NotRun:
        (void)std::fprintf(out, "not run (variant %c matched)\n", matched != 0 ? matched : '?');
        break;
      case Outcome::NoMatch:
        if (check.hasFound) {
          (void)std::fprintf(out, "no match at %s: found 0x%X, required %s\n", TestLabel(check),
                             static_cast<unsigned>(check.found), check.required);
        } else {
          (void)std::fprintf(out, "no match at %s: required %s\n", TestLabel(check), check.required);
        }
        break;
    }
  }
}

void PutExplanationJson(FILE* out, const FileExplanation& why) {
  const bool stopped = why.notRead || why.trace == nullptr || why.trace->stop != ScanStop::Checked;
  (void)std::fprintf(out, "{\"checked\":%s,\"stop\":", stopped ? "false" : "true");
  if (why.notRead || why.trace == nullptr) {
    (void)std::fputs("\"short file\",\"reason\":", out);
    PutJsonString(out, NotReadReason(why.size).c_str());
  } else {
    const StopWords words = WordsFor(why.trace->stop);
    PutJsonString(out, words.key);
    if (stopped) {
      (void)std::fputs(",\"reason\":", out);
      PutJsonString(out, words.reason);
    }
  }
  (void)std::fputs(",\"variants\":{", out);
  for (int i = 0; i < 4; ++i) {
    (void)std::fprintf(out, "%s\"%c\":", i == 0 ? "" : ",", VariantLetters[i]);
    const Outcome outcome = stopped ? Outcome::NotRun : OutcomeOf(*why.trace, i);
    if (outcome == Outcome::Matches) {
      (void)std::fputs("{\"result\":\"matches\"}", out);
    } else if (outcome == Outcome::NotRun) {
      (void)std::fputs("{\"result\":\"not run\"}", out);
    } else {
      const CheckTrace& check = why.trace->variants[i];
      (void)std::fputs("{\"result\":\"no match\",\"test\":", out);
      PutJsonString(out, TestLabel(check));
      if (check.hasFound) {
        (void)std::fprintf(out, ",\"found\":\"0x%X\"", static_cast<unsigned>(check.found));
      } else {
        (void)std::fputs(",\"found\":null", out);
      }
      (void)std::fputs(",\"required\":", out);
      PutJsonString(out, check.required);
      (void)std::fputc('}', out);
    }
  }
  (void)std::fputs("}}", out);
}
