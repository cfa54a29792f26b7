#include "bundle/pe_layout.h"

#include <gtest/gtest.h>

#include <string>

#include "pe_builder.h"
#include "test_support.h"
#include "util/platform.h"

namespace {

// Three ordinary sections and a last bundle section whose raw size is not
// a multiple of the file alignment.
PeRecipe StubRecipe(bool pe32plus, size_t bundleSize = 0x123) {
  PeRecipe recipe;
  recipe.pe32plus = pe32plus;
  recipe.sections = {{".text", PatternBytes(0x300), false},
                   {".rdata", PatternBytes(0x80, 2), false},
                   {".rsrc", PatternBytes(0x10, 3), false},
                   {".QXBNDL", PatternBytes(bundleSize, 4), true}};
  return recipe;
}

class PeLayoutTest : public ::testing::Test {
 protected:
  // Writes `bytes` and opens them for reading.
  File OpenBytes(const Bytes& bytes) {
    const std::wstring path = dir_.File(L"image" + std::to_wstring(counter_++) + L".exe");
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    File file;
    EXPECT_TRUE(file.Open(path, FileAccess::kRead));
    return file;
  }
  // GetLastSectionEnd with what it printed.
  int32_t LastSectionEnd(const Bytes& bytes, std::string* printed) {
    File file = OpenBytes(bytes);
    testing::internal::CaptureStdout();
    const int32_t end = GetLastSectionEnd(file);
    *printed = testing::internal::GetCapturedStdout();
    return end;
  }
  uint32_t AppendedSize(const Bytes& bytes, uint16_t mode, uint32_t size = 0) {
    File file = OpenBytes(bytes);
    return GetAppendedDataSize(file, size, mode);
  }
  bool Ranges(const Bytes& bytes, RangeList* ranges) {
    File file = OpenBytes(bytes);
    return CollectVolatileHeaderRanges(file, ranges);
  }

  TempDir dir_;
  int counter_ = 0;
};

// --- GetLastSectionEnd -------------------------------------------------------

TEST_F(PeLayoutTest, LastSectionEndIsExactRawEndForBothFormats) {
  for (bool pe32plus : {false, true}) {
    const PeImage image = BuildPe(StubRecipe(pe32plus));
    std::string printed;
    EXPECT_EQ(LastSectionEnd(image.bytes, &printed), static_cast<int32_t>(image.lastSectionEnd));
    EXPECT_EQ(image.lastSectionEnd % 0x200, 0x123u) << "no rounding to the file alignment";
    EXPECT_EQ(printed, "");
  }
}

TEST_F(PeLayoutTest, LastSectionEndClearsBit31WithoutOverflow) {
  struct Case { uint32_t pointer, size; int32_t expected; };
  const Case cases[] = {
      {0x7FFFFF00, 0xFF, 0x7FFFFFFF},          // just below bit 31
      {0x80000200, 0x123, 0x323},              // bit 31 set
      {0xFFFFFF00, 0x200, 0x100},              // the sum passes 32 bits
  };
  for (const Case& c : cases) {
    PeImage image = BuildPe(StubRecipe(false));
    const uint32_t last = image.SectionHeader(3);
    put32(image.bytes, last + 16, c.size);
    put32(image.bytes, last + 20, c.pointer);
    std::string printed;
    EXPECT_EQ(LastSectionEnd(image.bytes, &printed), c.expected) << std::hex << c.pointer;
  }
}

TEST_F(PeLayoutTest, LastSectionEndRefusesBadHeadersWithMessage) {
  const Bytes good = BuildPe(StubRecipe(false)).bytes;
  const PeImage layout = BuildPe(StubRecipe(false));
  auto patched = [&](uint64_t offset, uint32_t value, int width) {
    Bytes b = good;
    if (width == 2) put16(b, offset, static_cast<uint16_t>(value)); else put32(b, offset, value);
    return b;
  };
  struct Case { const char* name; Bytes bytes; const char* message; };
  const Case cases[] = {
      {"empty file", Bytes(), "Error reading file"},
      {"one byte", Bytes{'M'}, "Invalid DOS Sig"},
      {"not MZ", patched(0, 0x4D5A, 2), "Invalid DOS Sig"},
      {"DOS header cut before e_lfanew", Bytes(good.begin(), good.begin() + 0x3E), "Invalid DOS Sig"},
      {"e_lfanew past the end", patched(0x3C, 0x7FFFFFF0, 4), "Invalid NT Sig"},
      {"e_lfanew at 0xFFFFFFFF", patched(0x3C, 0xFFFFFFFF, 4), "Invalid NT Sig"},
      {"not PE", patched(layout.ntOffset, 0x00004550 + 1, 4), "Invalid NT Sig"},
      {"no sections", patched(layout.ntOffset + 6, 0, 2), "Invalid NT Sig"},
      {"optional header size pushes the table out", patched(layout.ntOffset + 20, 0xFFFF, 2), "Invalid NT Sig"},
      {"section count 0xFFFF", patched(layout.ntOffset + 6, 0xFFFF, 2), "Invalid NT Sig"},
  };
  for (const Case& c : cases) {
    std::string printed;
    EXPECT_EQ(LastSectionEnd(c.bytes, &printed), -1) << c.name;
    EXPECT_EQ(printed, c.message) << c.name;
  }
}

TEST_F(PeLayoutTest, LastSectionEndNeedsTheWholeSectionTableInsideTheFile) {
  // Headers only: the file ends with the section table.
  PeRecipe recipe = StubRecipe(false);
  const PeImage image = BuildPe(recipe);
  const size_t tableEnd = image.SectionHeader(4);
  struct Case { size_t length; int32_t expected; };
  const Case cases[] = {{tableEnd, static_cast<int32_t>(image.lastSectionEnd)},
                        {tableEnd - 1, -1},
                        {image.SectionHeader(3) + 20, -1}};
  for (const Case& c : cases) {
    const Bytes cut(image.bytes.begin(), image.bytes.begin() + static_cast<std::ptrdiff_t>(c.length));
    std::string printed;
    EXPECT_EQ(LastSectionEnd(cut, &printed), c.expected) << c.length;
  }
}

// --- GetAppendedDataSize -----------------------------------------------------

// A signed setup program: sections, a chain appended after the last section,
// 0-7 bytes of padding, a certificate table, maybe more bytes.
PeImage SignedWithOverlayChain(size_t chainData, uint32_t certSize, bool pe32plus = false,
                               const Bytes& appended = Bytes()) {
  PeRecipe recipe;
  recipe.pe32plus = pe32plus;
  recipe.sections = {{".text", PatternBytes(0x200), false}, {".data", PatternBytes(0x40), false}};
  recipe.overlay = MakeChain({{"_SG2", PatternBytes(chainData, 9)}});
  recipe.certificate = MakeCertificateTable(certSize);
  recipe.appended = appended;
  return BuildPe(recipe);
}

TEST_F(PeLayoutTest, AppendedSizeModeOneEndsChainBeforeCertificatePadding) {
  for (size_t padding = 0; padding < 8; ++padding) {
    // chain length = data + 28; pick data so the chain needs `padding` bytes.
    const size_t data = (8 - (28 % 8) + 8 - padding) % 8 + 16;
    const PeImage image = SignedWithOverlayChain(data, 0x108);
    const uint32_t size = static_cast<uint32_t>(image.bytes.size());
    const uint32_t chainEnd = image.overlayOffset + static_cast<uint32_t>(data + 28);
    ASSERT_EQ(image.certificateOffset - chainEnd, padding);
    EXPECT_EQ(AppendedSize(image.bytes, 1), size - chainEnd) << padding;
    EXPECT_EQ(AppendedSize(image.bytes, 0), size - image.lastSectionEnd) << padding;
    EXPECT_EQ(AppendedSize(image.bytes, 1, size), size - chainEnd) << "size given";
  }
}

TEST_F(PeLayoutTest, AppendedSizeNeedsCertificateTableAbove256Bytes) {
  struct Case { uint32_t certSize; bool expectNonZero; };
  const Case cases[] = {{0, false}, {0x100, false}, {0x101, true}};
  for (const Case& c : cases) {
    for (bool pe32plus : {false, true}) {
      PeImage image = SignedWithOverlayChain(20, c.certSize ? c.certSize : 0x108, pe32plus);
      if (c.certSize == 0) put32(image.bytes, image.CertificateDirectory() + 4, 0);
      for (uint16_t mode : {0, 1}) {
        const uint32_t got = AppendedSize(image.bytes, mode);
        EXPECT_EQ(got != 0, c.expectNonZero) << c.certSize << " pe32plus " << pe32plus << " mode " << mode;
      }
    }
  }
}

TEST_F(PeLayoutTest, AppendedSizeSearchesSixtyPositionsBeforeTheTable) {
  // The magic of the chain sits `distance` bytes before the table's start.
  struct Case { uint32_t distance; bool found; };
  const Case cases[] = {{4, true}, {63, true}, {64, false}};
  for (const Case& c : cases) {
    PeRecipe recipe;
    recipe.sections = {{".text", PatternBytes(0x200), false}};
    recipe.overlay = MakeChain({{"_SG2", PatternBytes(8)}});
    recipe.overlay.resize(recipe.overlay.size() + c.distance - 4, 0);
    recipe.certificate = MakeCertificateTable(0x200);
    recipe.padCertificateTo8 = false;
    const PeImage image = BuildPe(recipe);
    const uint32_t size = static_cast<uint32_t>(image.bytes.size());
    const uint32_t magicEnd = image.certificateOffset - c.distance + 4;
    EXPECT_EQ(AppendedSize(image.bytes, 1), c.found ? size - magicEnd : 0u) << c.distance;
  }
}

TEST_F(PeLayoutTest, AppendedSizeRefusals) {
  const PeImage base = SignedWithOverlayChain(20, 0x108);
  auto with = [&](uint64_t offset, uint32_t value) { Bytes b = base.bytes; put32(b, offset, value); return b; };
  auto with16 = [&](uint64_t offset, uint16_t value) { Bytes b = base.bytes; put16(b, offset, value); return b; };
  const uint32_t size = static_cast<uint32_t>(base.bytes.size());
  const uint32_t last = base.SectionHeader(1);
  struct Case { const char* name; Bytes bytes; uint16_t mode; };
  const Case cases[] = {
      {"not MZ", with16(0, 0x1234), 0},
      {"e_lfanew at file size", with(0x3C, size), 0},
      {"not PE", with(base.ntOffset, 0x12345678), 0},
      {"other machine", with16(base.ntOffset + 4, 0x01C4), 0},
      {"no sections", with16(base.ntOffset + 6, 0), 0},
      {"table beyond the file", with16(base.ntOffset + 6, 0xFFFF), 0},
      {"last section ends at file size", with(last + 16, size - base.rawPointer[1]), 0},
      {"last section end wraps", with(last + 20, 0xFFFFFF00), 0},
      {"certificate offset beyond file", with(base.CertificateDirectory(), size + 1), 1},
      {"certificate offset below 4", with(base.CertificateDirectory(), 2), 1},
      {"empty file", Bytes(), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(AppendedSize(c.bytes, c.mode), 0u) << c.name;
  File closed;
  EXPECT_EQ(GetAppendedDataSize(closed, 100, 0), 0u);
}

TEST_F(PeLayoutTest, AppendedSizeIgnoresModeForPe32Plus) {
  const PeImage image = SignedWithOverlayChain(20, 0x108, true, PatternBytes(50));
  const uint32_t expected = static_cast<uint32_t>(image.bytes.size()) - image.lastSectionEnd;
  EXPECT_EQ(AppendedSize(image.bytes, 0), expected);
  EXPECT_EQ(AppendedSize(image.bytes, 1), expected);
}

// --- CollectVolatileHeaderRanges --------------------------------------------

TEST_F(PeLayoutTest, RangesOfBundleImageCoverItsSectionHeaderAndSlack) {
  for (bool pe32plus : {false, true}) {
    const PeImage image = BuildPe(StubRecipe(pe32plus));
    const uint32_t e = image.ntOffset;
    const uint32_t lastHeader = image.SectionHeader(3);
    const uint32_t firstRaw = image.rawPointer[0];
    RangeList ranges;
    ASSERT_TRUE(Ranges(image.bytes, &ranges));
    const RangeList expected = {{e + 6, 2}, {e + 80, 4}, {e + 88, 4},
                                {e + (pe32plus ? 168u : 152u), 8},
                                {lastHeader, firstRaw - lastHeader}};
    EXPECT_EQ(ranges, expected) << "pe32plus " << pe32plus;
  }
}

TEST_F(PeLayoutTest, RangesWithoutBundleStartAfterLastSectionHeader) {
  for (const char* name : {".rsrc", ".QXBNDLX", ".QXBND"}) {
    PeRecipe recipe = StubRecipe(false);
    recipe.sections.back().name = name;
    const PeImage image = BuildPe(recipe);
    const uint32_t slack = image.SectionHeader(3) + 40;
    RangeList ranges;
    ASSERT_TRUE(Ranges(image.bytes, &ranges)) << name;
    ASSERT_EQ(ranges.size(), 5u);
    EXPECT_EQ(ranges[4], HeaderRange(slack, image.rawPointer[0] - slack)) << name;
  }
}

TEST_F(PeLayoutTest, RangesRefuseMoreThan15Sections) {
  struct Case { size_t sections; bool accepted; };
  const Case cases[] = {{15, true}, {16, false}, {0, false}};
  for (const Case& c : cases) {
    PeRecipe recipe;
    for (size_t i = 0; i < c.sections; ++i) recipe.sections.push_back({".s" + std::to_string(i), PatternBytes(16), false});
    RangeList ranges = {{1, 1}};
    EXPECT_EQ(Ranges(BuildPe(recipe).bytes, &ranges), c.accepted) << c.sections;
    EXPECT_EQ(ranges.size(), c.accepted ? 6u : 1u) << "nothing appended on failure";
  }
}

TEST_F(PeLayoutTest, RangesRefuseNonsenseLayouts) {
  const PeImage image = BuildPe(StubRecipe(false));           // last is .QXBNDL
  PeRecipe plainRecipe = StubRecipe(false);
  plainRecipe.sections.back().name = ".rsrc";
  const PeImage plain = BuildPe(plainRecipe);
  const uint32_t lastHeader = image.SectionHeader(3);
  auto with = [](const PeImage& img, uint64_t offset, uint32_t value) { Bytes b = img.bytes; put32(b, offset, value); return b; };
  auto with16 = [](const PeImage& img, uint64_t offset, uint16_t value) { Bytes b = img.bytes; put16(b, offset, value); return b; };
  struct Case { const char* name; Bytes bytes; bool accepted; };
  const Case cases[] = {
      {"bundle: raw data right at its header", with(image, image.SectionHeader(0) + 20, lastHeader), true},
      {"bundle: raw data inside its header", with(image, image.SectionHeader(0) + 20, lastHeader - 1), false},
      {"no bundle: raw data right after last header", with(plain, plain.SectionHeader(0) + 20, lastHeader + 40), true},
      {"no bundle: slack would be negative", with(plain, plain.SectionHeader(0) + 20, lastHeader + 39), false},
      {"slack beyond the file", with(image, image.SectionHeader(0) + 20, 0x7FFFFFFF), false},
      {"other machine", with16(image, image.ntOffset + 4, 0x01C4), false},
      {"e_lfanew beyond the file", with(image, 0x3C, 0xFFFFFFF0), false},
      {"headers cut short", Bytes(image.bytes.begin(), image.bytes.begin() + lastHeader + 10), false},
  };
  for (const Case& c : cases) {
    RangeList ranges;
    EXPECT_EQ(Ranges(c.bytes, &ranges), c.accepted) << c.name;
  }
}

}  // namespace
