// Resource tree walk: filters, depth limit, and trees that point outside the file or
// back into themselves.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "image/resource_walker.h"
#include "tests/support/pe_image_builder.h"

using testpe::IdData;
using testpe::IdDirectory;
using testpe::IdPointer;
using testpe::NamedData;
using testpe::NamedDirectory;
using testpe::NamedPointer;
using testpe::OpenedFile;
using testpe::PeImage;
using testpe::ResourceDirectory;
using testpe::ResourceLayout;

namespace {

constexpr uint32_t ResourceRva = 0x3000;
constexpr uint32_t ResourceFileOffset = 0x800;
constexpr uint32_t Untouched = 0xDEADBEEF;
constexpr uint32_t SubdirectoryAt = 0x80000000u;
constexpr uint16_t VersionType = 16;

std::vector<uint8_t> Blob(size_t size, uint8_t fill) { return std::vector<uint8_t>(size, fill); }

struct Walk {
  int found;
  uint32_t rva = Untouched;
  uint32_t size = Untouched;
};

// Lays the tree out and walks it from its root, as the version lookup does.
class ResourceTree {
 public:
  explicit ResourceTree(const ResourceDirectory& root) {
    layout_ = image_.SetResourceTree(root, ResourceRva, ResourceFileOffset);
    file_.reset(new OpenedFile(image_.Bytes()));
  }

  Walk Find(const char* name, uint32_t nameLength, uint32_t identifier, int depth = 0) const {
    Walk walk{0};
    walk.found = FindResourceEntry(file_->fd, name, nameLength, identifier, ResourceFileOffset,
                                   ResourceFileOffset, &walk.rva, &walk.size, depth);
    return walk;
  }
  Walk FindVersion() const { return Find(nullptr, 0, VersionType); }

  uint32_t DataRva(size_t index) const { return layout_.DataRvas.at(index); }

 private:
  PeImage image_;
  ResourceLayout layout_;
  std::unique_ptr<OpenedFile> file_;
};

::testing::AssertionResult FoundData(const Walk& walk, uint32_t rva, uint32_t size) {
  if (walk.found != 1) return ::testing::AssertionFailure() << "nothing found";
  if (walk.rva != rva || walk.size != size)
    return ::testing::AssertionFailure()
           << std::hex << "found rva 0x" << walk.rva << " size 0x" << walk.size << ", expected 0x"
           << rva << " size 0x" << size;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult FoundNothing(const Walk& walk) {
  if (walk.found != 0) return ::testing::AssertionFailure() << "found rva 0x" << std::hex << walk.rva;
  if (walk.rva != Untouched || walk.size != Untouched)
    return ::testing::AssertionFailure() << "outputs written without a result";
  return ::testing::AssertionSuccess();
}

// type -> name -> language, the shape every compiler writes.
ResourceDirectory TypicalTree() {
  return ResourceDirectory{{
      NamedDirectory(u"TYPELIB", {{IdDirectory(1, {{IdData(1033, Blob(0x30, 1))}})}}),
      IdDirectory(3, {{IdDirectory(1, {{IdData(1033, Blob(0x128, 2))}})}}),
      IdDirectory(VersionType, {{IdDirectory(1, {{
                                                    IdData(1033, Blob(0x2F4, 3)),
                                                    IdData(1049, Blob(0x100, 4)),
                                                }})}}),
  }};
}

TEST(ResourceWalk, VersionLookupFindsFirstLanguageUnderTypeSixteen) {
  ResourceTree tree(TypicalTree());
  // Data entries in layout order: TYPELIB, icon, version 1033, version 1049.
  EXPECT_TRUE(FoundData(tree.FindVersion(), tree.DataRva(2), 0x2F4));
}

TEST(ResourceWalk, IdentifierCountsOnlyInItsLow16BitsAndMeetsTheWholeNameField) {
  ResourceTree tree(ResourceDirectory{{
      IdDirectory(0x10000 | VersionType, {{IdData(1033, Blob(0x10, 1))}}),
      IdDirectory(VersionType, {{IdData(1033, Blob(0x20, 2))}}),
  }});
  EXPECT_TRUE(FoundData(tree.Find(nullptr, 0, 0x10000 | VersionType), tree.DataRva(1), 0x20));
  EXPECT_TRUE(FoundNothing(tree.Find(nullptr, 0, 0x10000 | 5)));
}

TEST(ResourceWalk, NoFilterTakesFirstDataEntryInTableOrderIncludingNamedOnes) {
  ResourceTree tree(TypicalTree());
  EXPECT_TRUE(FoundData(tree.Find(nullptr, 0, 0), tree.DataRva(0), 0x30));
}

TEST(ResourceWalk, TreesThatYieldNothing) {
  struct Case {
    const char* what;
    ResourceDirectory root;
  } cases[] = {
      {"no type 16", {{IdDirectory(3, {{IdData(1033, Blob(8, 1))}}),
                       IdDirectory(24, {{IdData(1033, Blob(8, 2))}})}}},
      {"empty root", {}},
      {"type 16 only as a named entry", {{NamedDirectory(u"16", {{IdData(1, Blob(8, 1))}})}}},
      {"type 16 with an empty directory", {{IdDirectory(VersionType, {})}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResourceTree tree(c.root);
    EXPECT_TRUE(FoundNothing(tree.FindVersion()));
  }
}

// A branch that fails yields 0 for that entry only; the walk goes on with the next.
TEST(ResourceWalk, FailingBranchFallsThroughToNextSibling) {
  struct Case {
    const char* what;
    testpe::ResourceEntry failing;
  } cases[] = {
      {"empty subdirectory", IdDirectory(VersionType, {})},
      {"subdirectory beyond end of file", IdPointer(VersionType, SubdirectoryAt | 0x00100000)},
      {"subdirectory offset past 2 GiB", IdPointer(VersionType, 0xFFFFFFFF)},
      {"data entry beyond end of file", IdPointer(VersionType, 0x00100000)},
      {"data entry offset past 2 GiB", IdPointer(VersionType, 0x7FFFFFFF)},
      {"pointer back to the root", IdPointer(VersionType, SubdirectoryAt | 0)},
      {"language level empty",
       IdDirectory(VersionType, {{IdDirectory(1, {})}})},
      {"language level pointing back to the root",
       IdDirectory(VersionType, {{IdDirectory(1, {{IdPointer(1033, SubdirectoryAt | 0)}})}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResourceTree tree(ResourceDirectory{{
        c.failing,
        IdDirectory(VersionType, {{IdDirectory(1, {{IdData(1033, Blob(0x40, 7))}})}}),
    }});
    EXPECT_TRUE(FoundData(tree.FindVersion(), tree.DataRva(0), 0x40));
  }
}

// Long directories: every entry is examined in order, whatever its index.
TEST(ResourceWalk, FindsTheOnlyWorkingEntryAnywhereInALongDirectory) {
  for (uint32_t winner : {0u, 15u, 16u, 17u, 31u, 32u, 299u}) {
    SCOPED_TRACE(winner);
    ResourceDirectory root;
    for (uint32_t i = 0; i < 300; ++i)
      root.Entries.push_back(i == winner
                                 ? IdDirectory(VersionType, {{IdData(1033, Blob(0x33, 3))}})
                                 : IdPointer(VersionType, SubdirectoryAt | 0x00100000));
    ResourceTree tree(root);
    EXPECT_TRUE(FoundData(tree.FindVersion(), tree.DataRva(0), 0x33));
  }
}

TEST(ResourceWalk, EntriesCutOffByTheEndOfTheFileYieldNothing) {
  // Root with 20 entries; the 18th (index 17) holds the data. Cutting the file inside
  // the entry table must lose exactly the entries past the cut.
  ResourceDirectory root;
  for (uint32_t i = 0; i < 20; ++i)
    root.Entries.push_back(i == 17 ? IdPointer(VersionType, 0) : IdPointer(1, 0));
  struct Case {
    uint32_t length;  // bytes of the root directory left in the file
    bool found;
  } cases[] = {{16 + 8 * 20, true}, {16 + 8 * 18, true}, {16 + 8 * 18 - 1, false},
               {16 + 8 * 17, false}, {16 + 8 * 16 + 3, false}, {15, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    PeImage image;
    (void)image.SetResourceTree(root, ResourceRva, ResourceFileOffset);
    image.SetFileLength(ResourceFileOffset + c.length);
    OpenedFile f(image.Bytes());
    uint32_t rva = Untouched, size = Untouched;
    // Entry 17's data entry is the root's own first 16 bytes: RVA 0, size 0.
    EXPECT_EQ(FindResourceEntry(f.fd, nullptr, 0, VersionType, ResourceFileOffset,
                                ResourceFileOffset, &rva, &size, 0),
              c.found ? 1 : 0);
  }
}

TEST(ResourceWalk, DirectoryThatPointsToItselfYieldsNothingAndEnds) {
  // Root entry 16 -> directory D whose 16 entries all lead back to D.
  ResourceDirectory loop;
  for (uint32_t i = 0; i < 16; ++i) loop.Entries.push_back(IdPointer(i + 1, SubdirectoryAt | 24));
  ResourceTree tree(ResourceDirectory{{IdDirectory(VersionType, loop)}});
  // Root: 16 + 8 bytes, so D lies at offset 24.
  EXPECT_TRUE(FoundNothing(tree.FindVersion()));
}

// Levels of 16 entries that all open the same next level: no back references, so
// the walk must give the exact result, and it must not take 16^levels visits.
TEST(ResourceWalk, SharedSubdirectoriesAreJudgedOnceAndExactly) {
  for (bool withData : {false, true}) {
    SCOPED_TRACE(withData ? "data at the bottom" : "empty bottom");
    ResourceDirectory level = withData ? ResourceDirectory{{IdData(1, Blob(0x44, 4))}}
                                       : ResourceDirectory{};
    PeImage image;
    // 40 levels laid out by hand: level k at 144 * k, every entry opening level k + 1.
    std::vector<uint8_t> raw(144 * 40 + 64, 0);
    for (uint32_t k = 0; k < 40; ++k) {
      testpe::StoreU16Le(raw, 144 * k + 14, 16);
      for (uint32_t i = 0; i < 16; ++i) {
        testpe::StoreU32Le(raw, 144 * k + 16 + 8 * i, k == 0 ? VersionType : i);
        testpe::StoreU32Le(raw, 144 * k + 20 + 8 * i, SubdirectoryAt | (144 * (k + 1)));
      }
    }
    if (withData) {  // bottom directory: one data entry, its record, its data RVA
      testpe::StoreU16Le(raw, 144 * 40 + 14, 1);
      testpe::StoreU32Le(raw, 144 * 40 + 16, 1);
      testpe::StoreU32Le(raw, 144 * 40 + 20, 144 * 40 + 24);
      testpe::StoreU32Le(raw, 144 * 40 + 24, 0x12345);
      testpe::StoreU32Le(raw, 144 * 40 + 28, 0x44);
    }
    image.AddSection(".rsrc", ResourceRva, static_cast<uint32_t>(raw.size()), ResourceFileOffset,
                     0x1A00, testpe::ReadOnlyDataSection, raw);
    OpenedFile f(image.Bytes());
    uint32_t rva = Untouched, size = Untouched;
    int found = FindResourceEntry(f.fd, nullptr, 0, VersionType, ResourceFileOffset,
                                  ResourceFileOffset, &rva, &size, 0);
    EXPECT_EQ(found, withData ? 1 : 0);
    if (withData) {
      EXPECT_EQ(rva, 0x12345u);
      EXPECT_EQ(size, 0x44u);
    }
  }
}

TEST(ResourceWalk, DirectoriesThatAllPointToEachOtherEnd) {
  // 16 directories of 16 entries, entry i of each leading to directory i.
  const uint32_t n = 16, size = 16 + 8 * n;
  std::vector<uint8_t> raw(size * n, 0);
  for (uint32_t d = 0; d < n; ++d) {
    testpe::StoreU16Le(raw, d * size + 14, static_cast<uint16_t>(n));
    for (uint32_t i = 0; i < n; ++i) {
      testpe::StoreU32Le(raw, d * size + 16 + 8 * i, VersionType);
      testpe::StoreU32Le(raw, d * size + 20 + 8 * i, SubdirectoryAt | (i * size));
    }
  }
  PeImage image;
  image.AddSection(".rsrc", ResourceRva, static_cast<uint32_t>(raw.size()), ResourceFileOffset,
                   0x1000, testpe::ReadOnlyDataSection, raw);
  OpenedFile f(image.Bytes());
  uint32_t rva = Untouched, size_ = Untouched;
  EXPECT_EQ(FindResourceEntry(f.fd, nullptr, 0, VersionType, ResourceFileOffset,
                              ResourceFileOffset, &rva, &size_, 0),
            0);
}

// A directory first met too deep for its data is met again closer to the root.
TEST(ResourceWalk, DirectoryMetAgainHigherUpIsWalkedAgain) {
  // root: [0] a chain of 49 directories down to X at depth 50, X -> Y -> data, which
  // lies one level too deep from there; [1] a pointer straight to X.
  auto build = [](uint32_t xOffset) {
    ResourceDirectory y{{IdData(1033, Blob(0x55, 5))}};
    ResourceDirectory chain{{IdDirectory(1, y)}};  // X
    for (int i = 0; i < 49; ++i) chain = ResourceDirectory{{IdDirectory(1, chain)}};
    return ResourceDirectory{{IdDirectory(7, chain), IdPointer(7, SubdirectoryAt | xOffset)}};
  };
  PeImage probe;
  uint32_t x = probe.SetResourceTree(build(0), ResourceRva, ResourceFileOffset)
                   .DirectoryOffsets.at(50);
  ResourceTree tree(build(x));
  EXPECT_TRUE(FoundData(tree.Find(nullptr, 0, 0), tree.DataRva(0), 0x55));
}

// The same directory below a matching name, where both filters are off, is another walk.
TEST(ResourceWalk, DirectoryMetAgainUnderOtherFiltersIsWalkedAgain) {
  // root (2 entries, 32 bytes): [0] -> D at 32, [1] "VS" -> D. D holds a named data
  // entry that the name filter "VS" rejects but that counts once the filters are off.
  ResourceTree tree(ResourceDirectory{{
      IdDirectory(1, {{NamedData(u"OTHER", Blob(0x66, 6))}}),
      NamedPointer(u"VS", SubdirectoryAt | 32),
  }});
  EXPECT_TRUE(FoundData(tree.Find("VS", 2, 0), tree.DataRva(0), 0x66));
}

ResourceDirectory Chain(int directoriesBelowRoot, uint32_t dataSize) {
  ResourceDirectory bottom{{IdData(1, Blob(dataSize, 9))}};
  for (int i = 0; i < directoriesBelowRoot; ++i) bottom = ResourceDirectory{{IdDirectory(1, bottom)}};
  return bottom;
}

TEST(ResourceWalk, DirectoriesAreReadUpToDepthFifty) {
  struct Case {
    int depthOfDataDirectory;
    int startDepth;
    bool found;
  } cases[] = {
      {0, 0, true},    {1, 0, true},   {49, 0, true},
      {50, 0, true},   {51, 0, false}, {60, 0, false},
      {40, 10, true},  {41, 10, false}, {51, -1, true},
      {0, 50, true},   {0, 51, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.depthOfDataDirectory) + " from depth " +
                 std::to_string(c.startDepth));
    ResourceTree tree(Chain(c.depthOfDataDirectory, 0x20));
    Walk walk = tree.Find(nullptr, 0, 0, c.startDepth);
    if (c.found)
      EXPECT_TRUE(FoundData(walk, tree.DataRva(0), 0x20));
    else
      EXPECT_TRUE(FoundNothing(walk));
  }
}

// Name filter: the stored name's low bytes against the given 8-bit text, exact and
// case-sensitive, lengths equal, at most 50 units.
TEST(ResourceWalk, NameFilterComparesLowBytesOfEqualLengthNames) {
  const std::string fifty(50, 'N');
  const std::string fiftyOne(51, 'N');
  struct Case {
    const char* what;
    std::u16string stored;
    const char* filter;
    uint32_t filterLength;
    bool matches;
  } cases[] = {
      {"same capitals", u"ABC", "ABC", 3, true},
      {"lower case stored", u"abc", "ABC", 3, false},
      {"high bytes ignored", u"\u0141\u0142\u0143", "ABC", 3, true},
      {"stored longer with same start", u"ABCD", "ABC", 3, false},
      {"stored shorter", u"AB", "ABC", 3, false},
      {"filter length decides, not the text", u"AB", "ABC", 2, true},
      {"length counts in its low 16 bits", u"ABC", "ABC", 0x10003, true},
      {"high-bit text bytes", u"\u00E9t\u00E9", "\xE9t\xE9", 3, true},
      {"fifty units", std::u16string(50, u'N'), fifty.c_str(), 50, true},
      {"fifty-one units never match", std::u16string(51, u'N'), fiftyOne.c_str(), 51, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A match takes the named branch; otherwise the walk goes on to the numbered one.
    ResourceTree tree(ResourceDirectory{{
        NamedDirectory(c.stored, {{IdData(1033, Blob(0x11, 1))}}),
        IdDirectory(5, {{IdData(1033, Blob(0x22, 2))}}),
    }});
    Walk walk = tree.Find(c.filter, c.filterLength, 0);
    if (c.matches)
      EXPECT_TRUE(FoundData(walk, tree.DataRva(0), 0x11));
    else
      EXPECT_TRUE(FoundData(walk, tree.DataRva(1), 0x22));
  }
}

TEST(ResourceWalk, NameFilterIsOffForNullNameOrZeroLength) {
  struct Case {
    const char* what;
    const char* name;
    uint32_t length;
  } cases[] = {
      {"null name", nullptr, 3},
      {"zero length", "XYZ", 0},
      {"length zero in its low 16 bits", "XYZ", 0x10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResourceTree tree(ResourceDirectory{{
        NamedDirectory(u"ABC", {{IdData(1033, Blob(0x11, 1))}}),
        IdDirectory(5, {{IdData(1033, Blob(0x22, 2))}}),
    }});
    // Without a name filter the first entry, named or not, is followed.
    EXPECT_TRUE(FoundData(tree.Find(c.name, c.length, 0), tree.DataRva(0), 0x11));
  }
}

TEST(ResourceWalk, NameFilterGoesDownUntilANamedEntryMatches) {
  // Type 16 -> named "VS" -> language; the filter "VS" with identifier 16.
  ResourceTree tree(ResourceDirectory{{IdDirectory(VersionType, {{
      NamedDirectory(u"OTHER", {{IdData(1033, Blob(0x11, 1))}}),
      NamedDirectory(u"VS", {{NamedData(u"ANY", Blob(0x22, 2))}}),
  }})}});
  // Below the matching name both filters are off, so even a named data entry counts.
  EXPECT_TRUE(FoundData(tree.Find("VS", 2, VersionType), tree.DataRva(1), 0x22));
  EXPECT_TRUE(FoundNothing(tree.Find("NO", 2, VersionType)));
}

TEST(ResourceWalk, NamedDataEntryMatchingTheFilterStillMeetsTheIdentifierFilter) {
  ResourceTree tree(ResourceDirectory{{
      NamedData(u"ABC", Blob(0x11, 1)),
      IdData(VersionType, Blob(0x22, 2)),
  }});
  EXPECT_TRUE(FoundData(tree.Find("ABC", 3, 0), tree.DataRva(0), 0x11));
  // Its Name field has the high bit set and never equals identifier 16.
  EXPECT_TRUE(FoundData(tree.Find("ABC", 3, VersionType), tree.DataRva(1), 0x22));
}

TEST(ResourceWalk, NameStringOutsideTheFileFailsOnlyThatEntry) {
  ResourceDirectory root{{
      NamedPointer(u"ABC", 0),  // placeholder, Name rewritten below
      IdDirectory(5, {{IdData(1033, Blob(0x22, 2))}}),
  }};
  PeImage image;
  ResourceLayout layout = image.SetResourceTree(root, ResourceRva, ResourceFileOffset);
  // First root entry's Name: a string offset far past the end of the file.
  image.PutU32(ResourceFileOffset + 16, SubdirectoryAt | 0x00100000);
  OpenedFile f(image.Bytes());
  uint32_t rva = Untouched, size = Untouched;
  EXPECT_EQ(FindResourceEntry(f.fd, "ABC", 3, 0, ResourceFileOffset, ResourceFileOffset, &rva,
                              &size, 0),
            1);
  EXPECT_EQ(rva, layout.DataRvas.at(0));
  EXPECT_EQ(size, 0x22u);
}

TEST(ResourceWalk, MatchResourceEntryExaminesOneEntry) {
  PeImage image;
  ResourceLayout layout = image.SetResourceTree(TypicalTree(), ResourceRva, ResourceFileOffset);
  OpenedFile f(image.Bytes());
  struct Case {
    uint32_t index;
    int found;
  } cases[] = {{0, 0}, {1, 0}, {2, 1}, {3, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    uint32_t rva = Untouched, size = Untouched;
    uint32_t entry = ResourceFileOffset + 16 + 8 * c.index;  // index 3 lies past the root
    EXPECT_EQ(MatchResourceEntry(f.fd, nullptr, 0, VersionType, entry, ResourceFileOffset, &rva,
                                 &size, 1),
              c.found);
    if (c.found) {
      EXPECT_EQ(rva, layout.DataRvas.at(2));
    }
  }
}

}  // namespace
