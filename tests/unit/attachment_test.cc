#include "bundle/attachment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "bundle/attachment_chain.h"
#include "bundle/nested_extraction.h"
#include "pe_builder.h"
#include "test_support.h"
#include "test_support_platform.h"
#include "util/platform.h"

namespace {

using Lines = std::vector<std::string>;

const Bytes kTypeText = {'g', 'u', 'i', '\r', '\n', 0};

// The stub's bundle, from its end backwards: LOAD, TYPE, _SG2, _SG1.
Bytes StubChain(const Bytes& load) {
  return MakeChain({{"_SG1", PatternBytes(40, 5)}, {"_SG2", PatternBytes(35, 6)},
                    {"TYPE", kTypeText}, {"LOAD", load}});
}

// A stub image: .QXBNDL holds `chain`; then padding, a certificate table and `appended`.
PeImage StubImage(const Bytes& chain, const Bytes& appended = Bytes()) {
  PeRecipe recipe;
  recipe.sections = {{".text", PatternBytes(0x400), false}, {".rsrc", PatternBytes(0x30, 2), false},
                   {".QXBNDL", chain, true}};
  recipe.certificate = MakeCertificateTable(0x300);
  recipe.appended = appended;
  return BuildPe(recipe);
}

class AttachmentTest : public ::testing::Test {
 protected:
  void TearDown() override { SetModulePath(L""); }

  std::wstring Write(const std::wstring& name, const Bytes& bytes) {
    const std::wstring path = dir_.File(name);
    EXPECT_TRUE(WriteWholeFile(path, bytes));
    return path;
  }
  AttachmentRequest Request(const std::wstring& container, const std::string& type, bool peMode) {
    return AttachmentRequest{peMode, container, type, dir_.File(L"out.bin")};
  }
  Bytes Output() {
    Bytes out;
    EXPECT_TRUE(ReadWholeFile(dir_.File(L"out.bin"), &out));
    return out;
  }
  bool OutputExists() { return FileExists(dir_.File(L"out.bin")); }

  TempDir dir_;
};

// --- ExtractAttachment -------------------------------------------------------

TEST_F(AttachmentTest, ExtractFromBundleSectionTracesEveryTrailerMet) {
  const Bytes load = PatternBytes(5000, 7);
  const std::wstring stub = Write(L"stub.exe", StubImage(StubChain(load)).bytes);
  TraceCapture trace;
  ProgressRecorder progress;
  ASSERT_TRUE(ExtractAttachment(50, 10, Request(stub, "TYPE", true)));
  EXPECT_EQ(Output(), kTypeText);
  EXPECT_EQ(trace.lines(), (Lines{"Going to extract file: TYPE\n", "Found attachment: LOAD\n",
                                  "Found attachment: TYPE\n", "Extracted\n"}));
  EXPECT_EQ(progress.calls(), (std::vector<std::pair<int32_t, int32_t>>{{10, 0}}));

  ASSERT_TRUE(ExtractAttachment(50, 0, Request(stub, "LOAD", true)));
  EXPECT_EQ(Output(), load);
}

TEST_F(AttachmentTest, EmptyAttachmentExtractsToEmptyFileWithoutProgress) {
  const std::wstring stub = Write(L"stub.exe", StubImage(MakeChain({{"A404", Bytes()}, {"LOAD", PatternBytes(10)}})).bytes);
  ProgressRecorder progress;
  ASSERT_TRUE(ExtractAttachment(50, 0, Request(stub, "A404", true)));
  EXPECT_TRUE(Output().empty());
  EXPECT_TRUE(progress.calls().empty());
}

TEST_F(AttachmentTest, NearestAttachmentOfTheTypeWins) {
  const Bytes older = PatternBytes(100, 1), newer = PatternBytes(90, 2);
  const std::wstring stub =
      Write(L"stub.exe", StubImage(MakeChain({{"LOAD", older}, {"TYPE", kTypeText}, {"LOAD", newer}})).bytes);
  ASSERT_TRUE(ExtractAttachment(50, 0, Request(stub, "LOAD", true)));
  EXPECT_EQ(Output(), newer);
  EXPECT_EQ(ReadAttachment(stub, "LOAD"), std::string(newer.begin(), newer.end()));
}

TEST_F(AttachmentTest, TypesOtherThanFourCharactersAreRefusedBeforeSearching) {
  const std::wstring stub = Write(L"stub.exe", StubImage(StubChain(PatternBytes(10))).bytes);
  SetModulePath(stub);
  for (const std::string type : {"LOA", "LOADX", ""}) {
    TraceCapture trace;
    EXPECT_FALSE(ExtractAttachment(50, 0, Request(stub, type, true))) << type;
    EXPECT_FALSE(OutputExists()) << type;
    EXPECT_FALSE(ExtractAppendedAttachment(type, dir_.File(L"out.bin"))) << type;
    EXPECT_EQ(ReadAttachment(stub, type), "") << type;
    EXPECT_EQ(ReadSignedFileAttachment(stub, type, nullptr, 0), "") << type;
    const std::string extract = "Invalid type to extract: " + type + "\n";
    EXPECT_EQ(trace.lines(), (Lines{extract, extract, extract, extract})) << type;
    trace.Clear();
    EXPECT_FALSE(FindAttachment(type)) << type;
    EXPECT_EQ(trace.lines(), (Lines{"Invalid type to find: " + type + "\n"})) << type;
  }
}

TEST_F(AttachmentTest, WalkEndsAtMissingMagicOrBelowOffsetZero) {
  Bytes atStart = MakeChain({{"TYPE", kTypeText}});  // nothing before the chain
  Bytes hugeSize = atStart;
  put32(hugeSize, hugeSize.size() - 12, 0xFFFFFFFF);  // next trailer far below zero
  Bytes afterJunk(100 + atStart.size(), 'P');
  std::copy(atStart.begin(), atStart.end(), afterJunk.begin() + 100);
  struct Case { const char* name; Bytes file; };
  const Case cases[] = {{"chain at offset 0", atStart}, {"huge size field", hugeSize}, {"junk before", afterJunk}};
  for (const Case& c : cases) {
    const std::wstring path = Write(L"plain.bin", c.file);
    TraceCapture trace;
    EXPECT_FALSE(ExtractAttachment(50, 0, Request(path, "LOAD", false))) << c.name;
    EXPECT_EQ(trace.lines(), (Lines{"Going to extract file: LOAD\n", "Found attachment: TYPE\n", "Not found!\n"}))
        << c.name;
    EXPECT_FALSE(OutputExists()) << c.name;
  }
}

TEST_F(AttachmentTest, DataMustStartAtOrAfterOffsetZero) {
  const Bytes data = PatternBytes(64);
  const Bytes exact = MakeAttachment("LOAD", data);  // data starts at offset 0
  const uint64_t sizeField = exact.size() - 12;
  struct Case { uint32_t size; bool ok; };
  const Case cases[] = {{64, true}, {65, false}, {0xFFFFFFFF, false}};
  for (const Case& c : cases) {
    Bytes file = exact;
    put32(file, sizeField, c.size);
    const std::wstring path = Write(L"plain.bin", file);
    TraceCapture trace;
    EXPECT_EQ(ExtractAttachment(50, 0, Request(path, "LOAD", false)), c.ok) << c.size;
    EXPECT_EQ(trace.lines().back(), c.ok ? "Extracted\n" : "Invalid pos\n") << c.size;
    EXPECT_EQ(OutputExists(), c.ok) << c.size;
  }
}

TEST_F(AttachmentTest, CorruptedDataFailsDigestAndLeavesNoFile) {
  const Bytes load = PatternBytes(3000, 4);
  const PeImage image = StubImage(StubChain(load));
  struct Case { const char* name; uint32_t offset; };
  const uint32_t loadData = image.lastSectionEnd - 28 - 3000;
  const Case cases[] = {{"first data byte", loadData}, {"last data byte", loadData + 2999},
                        {"digest byte", loadData + 3000}};
  for (const Case& c : cases) {
    Bytes bytes = image.bytes;
    bytes[c.offset] ^= 0x01;
    const std::wstring stub = Write(L"stub.exe", bytes);
    TraceCapture trace;
    EXPECT_FALSE(ExtractAttachment(50, 0, Request(stub, "LOAD", true))) << c.name;
    EXPECT_EQ(trace.lines().back(), "hash fail\n") << c.name;
    EXPECT_FALSE(OutputExists()) << c.name;
    EXPECT_EQ(ReadAttachment(stub, "LOAD"), "") << c.name;
  }
}

TEST_F(AttachmentTest, ProgressIsReportedBeforeEachMebibyteChunk) {
  using Calls = std::vector<std::pair<int32_t, int32_t>>;
  struct Case { size_t size; double scale; int32_t base; Calls expected; };
  const Case cases[] = {
      {3 << 20, 50, 0, {{0, 0}, {0, 16}, {0, 33}}},
      {3 << 20, 25, 50, {{50, 0}, {50, 8}, {50, 16}}},
      {(1 << 20) + 1, 50, 0, {{0, 0}, {0, 49}}},
  };
  for (const Case& c : cases) {
    const std::wstring path = Write(L"big.bin", MakeChain({{"LOAD", PatternBytes(c.size, 3)}}));
    ProgressRecorder progress;
    ASSERT_TRUE(ExtractAttachment(c.scale, c.base, Request(path, "LOAD", false)));
    EXPECT_EQ(progress.calls(), c.expected) << c.size << " " << c.scale;
  }
}

TEST_F(AttachmentTest, PeModeOnNonPeFileIsNotFound) {
  const std::wstring path = Write(L"plain.bin", MakeChain({{"LOAD", PatternBytes(10)}}));
  TraceCapture trace;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ExtractAttachment(50, 0, Request(path, "LOAD", true)));
  EXPECT_EQ(ReadAttachment(path, "LOAD"), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid DOS SigInvalid DOS Sig");
  EXPECT_EQ(trace.lines(), (Lines{"Going to extract file: LOAD\n", "Not found!\n",
                                  "Going to extract file: LOAD\n", "Not found!\n"}));
  EXPECT_FALSE(OutputExists());
}

TEST_F(AttachmentTest, TrailerBeyondEndOfFileIsHeaderReadFail) {
  PeImage image = StubImage(StubChain(PatternBytes(10)));
  const uint32_t last = image.SectionHeader(2);
  put32(image.bytes, last + 16, image.rawSize[2] + 0x1000);  // raw data claimed past the file
  const std::wstring stub = Write(L"stub.exe", image.bytes);
  TraceCapture trace;
  EXPECT_FALSE(ExtractAttachment(50, 0, Request(stub, "LOAD", true)));
  EXPECT_EQ(trace.lines(), (Lines{"Going to extract file: LOAD\n", "Header read fail\n"}));
  EXPECT_FALSE(OutputExists());
}

TEST_F(AttachmentTest, UnopenableFilesAreReported) {
  const std::wstring stub = Write(L"stub.exe", StubImage(StubChain(PatternBytes(10))).bytes);
  const std::wstring missing = dir_.File(L"missing.exe");
  const std::wstring badDestination = dir_.File(L"nodir") + kPathSep + L"out.bin";
  {
    TraceCapture trace;
    EXPECT_FALSE(ExtractAttachment(50, 0, AttachmentRequest{true, missing, "LOAD", dir_.File(L"out.bin")}));
    EXPECT_FALSE(OutputExists()) << "destination is opened after the container";
    ASSERT_EQ(trace.lines().size(), 1u);
    EXPECT_EQ(trace.lines()[0].rfind("Could not open container: ", 0), 0u);
  }
  {
    TraceCapture trace;
    EXPECT_FALSE(ExtractAttachment(50, 0, AttachmentRequest{true, stub, "LOAD", badDestination}));
    ASSERT_EQ(trace.lines().size(), 1u);
    EXPECT_EQ(trace.lines()[0].rfind("Could not open destination: ", 0), 0u);
  }
  TraceCapture trace;
  SetModulePath(missing);
  EXPECT_EQ(ReadSignedFileAttachment(missing, "_SG2", nullptr, 1), "");
  EXPECT_FALSE(FindAttachment("A404"));
  ASSERT_EQ(trace.lines().size(), 2u);
  for (const std::string& line : trace.lines()) EXPECT_EQ(line.rfind("Could not open container: ", 0), 0u);
}

// --- ReadAttachment ----------------------------------------------------------

TEST_F(AttachmentTest, ReadAttachmentReturnsPlainBytes) {
  const std::wstring stub = Write(L"stub.exe", StubImage(StubChain(PatternBytes(20000, 8))).bytes);
  TraceCapture trace;
  EXPECT_EQ(ReadAttachment(stub, "TYPE"), std::string("gui\r\n", 6));
  EXPECT_EQ(trace.lines(), (Lines{"Going to extract file: TYPE\n", "Found attachment: LOAD\n",
                                  "Found attachment: TYPE\n", "Extracted\n"}));
  const Bytes load = PatternBytes(20000, 8);  // several 8 KiB chunks
  EXPECT_EQ(ReadAttachment(stub, "LOAD"), std::string(load.begin(), load.end()));
  EXPECT_EQ(ReadAttachment(stub, "IBND"), "");
}

// --- The stub's own file: FindAttachment, ExtractAppendedAttachment ----------

TEST_F(AttachmentTest, FindAttachmentLooksOnlyAfterTheCertificateTable) {
  const Bytes a404 = PatternBytes(1234, 9);
  const std::wstring withA404 = Write(L"stub.exe", StubImage(StubChain(PatternBytes(10)), MakeChain({{"A404", a404}})).bytes);
  const std::wstring without = Write(L"plain-stub.exe", StubImage(StubChain(PatternBytes(10))).bytes);
  struct Case { const std::wstring* module; const char* type; bool found; };
  const Case cases[] = {{&withA404, "A404", true}, {&withA404, "LOAD", false}, {&without, "A404", false}};
  for (const Case& c : cases) {
    SetModulePath(*c.module);
    TraceCapture trace;
    EXPECT_EQ(FindAttachment(c.type), c.found) << c.type;
    EXPECT_EQ(trace.lines(), (Lines{std::string("Going to find file: ") + c.type + "\n", c.found ? "found!\n" : "Not found!\n"}))
        << c.type;
  }
}

TEST_F(AttachmentTest, ExtractAppendedAttachmentWithoutProgressOrTrailerTraces) {
  const Bytes a404 = PatternBytes(1234, 9);
  const std::wstring stub =
      Write(L"stub.exe", StubImage(StubChain(PatternBytes(10)), MakeChain({{"_XYZ", PatternBytes(5)}, {"A404", a404}})).bytes);
  SetModulePath(stub);
  TraceCapture trace;
  ProgressRecorder progress;
  ASSERT_TRUE(ExtractAppendedAttachment("_XYZ", dir_.File(L"out.bin")));
  EXPECT_EQ(Output(), PatternBytes(5));
  EXPECT_EQ(trace.lines(), (Lines{"Going to extract file: _XYZ\n", "Extracted\n"}));
  EXPECT_TRUE(progress.calls().empty());
  EXPECT_FALSE(ExtractAppendedAttachment("LOAD", dir_.File(L"out.bin")));
  EXPECT_FALSE(OutputExists());
}

// --- ReadSignedFileAttachment ------------------------------------------------

TEST_F(AttachmentTest, SignedFileAttachmentAndItsDataOffset) {
  const Bytes sg2 = PatternBytes(35, 6);
  const PeImage stub = StubImage(StubChain(PatternBytes(100)));
  // The stub's _SG2: behind it lie TYPE and LOAD (100 + 6 bytes and 3 trailers).
  const uint32_t stubSg2 = stub.lastSectionEnd - (100 + 6 + 35 + 3 * 28);

  PeRecipe setupRecipe;
  setupRecipe.sections = {{".text", PatternBytes(0x200), false}};
  setupRecipe.overlay = MakeChain({{"_SG2", sg2}});
  setupRecipe.certificate = MakeCertificateTable(0x180);
  const PeImage setup = BuildPe(setupRecipe);

  Bytes unsignedFile(64, 'P');
  const Bytes chain = MakeChain({{"_SG2", sg2}, {"IBND", PatternBytes(70)}});
  unsignedFile.insert(unsignedFile.end(), chain.begin(), chain.end());

  struct Case { const char* name; const Bytes* file; uint16_t mode; bool found; uint32_t offset; };
  const Case cases[] = {
      {"stub, mode 0: chain in the bundle section", &stub.bytes, 0, true, stubSg2},
      {"setup, mode 1: chain before the padding", &setup.bytes, 1, true, setup.overlayOffset},
      {"setup, mode 0: chain end taken at the last section", &setup.bytes, 0, false, 0},
      {"unsigned: chain at end of file", &unsignedFile, 1, true, 64},
  };
  for (const Case& c : cases) {
    const std::wstring path = Write(L"signed.exe", *c.file);
    uint32_t offset = 0xDEADBEEF;
    TraceCapture trace;
    const std::string text = ReadSignedFileAttachment(path, "_SG2", &offset, c.mode);
    EXPECT_EQ(text, c.found ? std::string(sg2.begin(), sg2.end()) : std::string()) << c.name;
    EXPECT_EQ(offset, c.found ? c.offset : 0xDEADBEEF) << c.name;
    EXPECT_EQ(trace.lines().back(), c.found ? "Extracted\n" : "Not found!\n") << c.name;
    for (const std::string& line : trace.lines()) EXPECT_EQ(line.find("Found attachment"), std::string::npos);
  }
}

// --- Chain listing -----------------------------------------------------------

TEST_F(AttachmentTest, ListAttachmentsWalksFromTheEnd) {
  Bytes file(10, 'P');
  const Bytes chain = MakeChain({{"_SG1", PatternBytes(3)}, {"TYPE", kTypeText}, {"LOAD", PatternBytes(500)}});
  file.insert(file.end(), chain.begin(), chain.end());
  file[10 + 3 + 28 + 1] ^= 0x40;  // corrupt TYPE's data
  const std::wstring path = Write(L"chain.bin", file);
  File container;
  ASSERT_TRUE(container.Open(path, FileAccess::kRead));
  const std::vector<AttachmentInfo> list = ListAttachments(container, static_cast<int64_t>(file.size()));
  ASSERT_EQ(list.size(), 3u);
  const char* types[] = {"LOAD", "TYPE", "_SG1"};
  const int64_t offsets[] = {10 + 3 + 28 + 6 + 28, 10 + 3 + 28, 10};
  const uint32_t sizes[] = {500, 6, 3};
  const bool intact[] = {true, false, true};
  std::vector<uint8_t> buffer;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(list[i].type, types[i]);
    EXPECT_EQ(list[i].dataOffset, offsets[i]);
    EXPECT_EQ(list[i].size, sizes[i]);
    EXPECT_EQ(list[i].trailerOffset, offsets[i] + sizes[i]);
    EXPECT_EQ(AttachmentDigestMatches(container, list[i], &buffer), intact[i]) << types[i];
  }
  EXPECT_TRUE(ListAttachments(container, 27).empty());
  EXPECT_TRUE(ListAttachments(container, -1).empty());
}

// The walker reads trailers through a window; trailers that straddle a window
// boundary, chains that end before the end of the file, and a chain end past
// it must come out as with one read per trailer.
TEST_F(AttachmentTest, ListingIsTheSameWhereverWindowBoundariesFall) {
  std::vector<std::pair<std::string, Bytes>> parts;
  uint32_t seed = 7;
  for (int i = 0; i < 60; ++i) {
    seed = seed * 1103515245u + 12345u;
    const size_t size = i % 3 == 0 ? 0 : (seed >> 8) % (ChainWalker::kWindowSize + 3000);
    parts.push_back({"T" + std::to_string(100 + i), PatternBytes(size, static_cast<uint8_t>(i))});
  }
  Bytes file(5, 'P');
  const Bytes chain = MakeChain(parts);
  file.insert(file.end(), chain.begin(), chain.end());
  const int64_t chainEnd = static_cast<int64_t>(file.size());
  file.insert(file.end(), 1000, 'X');  // after the chain, not part of it
  File container;
  ASSERT_TRUE(container.Open(Write(L"long.bin", file), FileAccess::kRead));

  const std::vector<AttachmentInfo> list = ListAttachments(container, chainEnd);
  ASSERT_EQ(list.size(), parts.size());
  int64_t end = chainEnd;
  std::vector<uint8_t> buffer;
  for (size_t i = 0; i < list.size(); ++i) {
    const auto& expected = parts[parts.size() - 1 - i];
    EXPECT_EQ(list[i].type, expected.first);
    EXPECT_EQ(list[i].trailerOffset, end - 28);
    EXPECT_EQ(list[i].dataOffset, end - 28 - static_cast<int64_t>(expected.second.size()));
    EXPECT_TRUE(AttachmentDigestMatches(container, list[i], &buffer)) << i;
    end = list[i].dataOffset;
  }
  // One buffer served the whole walk, no larger than the largest attachment
  // or the 64 KiB piece of a digest check.
  size_t largest = 0;
  for (const auto& part : parts) largest = std::max(largest, part.second.size());
  ASSERT_GT(largest, size_t{64 * 1024});
  EXPECT_EQ(buffer.size(), size_t{64 * 1024});

  ChainWalker beyond(container, static_cast<int64_t>(file.size()) + 1);
  AttachmentInfo info;
  EXPECT_EQ(beyond.Next(&info), ChainWalker::Step::kReadFail);
}

}  // namespace

TEST(AttachmentMaskTest, WordAtATimeMatchesByteAtATimeAtEveryLengthAndOffset) {
  std::vector<uint8_t> data(40);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t n = 0; n + offset <= data.size(); ++n) {
      std::vector<uint8_t> masked = data;
      MaskAttachmentBytes(masked.data() + offset, n);
      for (size_t i = 0; i < data.size(); ++i) {
        const bool inside = i >= offset && i < offset + n;
        ASSERT_EQ(inside ? (data[i] ^ kAttachmentMask) : data[i], masked[i]) << offset << " " << n;
      }
    }
  }
}

// --- Nested head start ---------------------------------------------------------

// setup.exe's inner bundle is hashed and written while setup.exe is extracted;
// whatever the bytes, the two extractions must answer, trace and report
// progress exactly as they do without the head start, and leave the same files.
class NestedExtractionTest : public AttachmentTest {
 protected:
  struct Outcome {
    bool load = false, inner = false, innerExists = false;
    Lines trace;
    std::vector<std::pair<int32_t, int32_t>> progress;
    Bytes innerBytes;
  };
  Outcome Run(const Bytes& setup, bool headStart, const std::function<void(Bytes*)>& change) {
    const std::wstring outer = Write(L"outer.bin", MakeChain({{"LOAD", setup}}));
    const std::wstring setupPath = dir_.File(L"setup.exe"), inner = dir_.File(L"ibnd");
    RemoveFile(setupPath);
    RemoveFile(inner);
    Outcome o;
    {
      TraceCapture trace;
      ProgressRecorder progress;
      NestedExtraction nested("IBND", inner);
      NestedExtraction* n = headStart ? &nested : nullptr;
      o.load = ExtractAttachment(50, 0, {false, outer, "LOAD", setupPath, n});
      if (o.load && change) {
        Bytes written;
        EXPECT_TRUE(ReadWholeFile(setupPath, &written));
        change(&written);
        EXPECT_TRUE(WriteWholeFile(setupPath, written));
      }
      if (o.load) o.inner = ExtractAttachment(25, 50, {false, setupPath, "IBND", inner, n});
      o.trace = trace.lines();
      o.progress = progress.calls();
    }
    o.innerExists = ReadWholeFile(inner, &o.innerBytes);
    return o;
  }
};

TEST_F(NestedExtractionTest, AnswersAsTheExtractionWithoutIt) {
  const Bytes bundle = PatternBytes((5 << 19) + 3, 9);  // spans three outer pieces
  const Bytes setup = [&] {
    Bytes s = PatternBytes(3000, 1);
    const Bytes chain = MakeChain({{"IBND", bundle}, {"XTRA", PatternBytes(100, 2)}});
    s.insert(s.end(), chain.begin(), chain.end());
    return s;
  }();
  const size_t innerDigest = setup.size() - 2 * 28 - 100;  // IBND's trailer, first byte
  struct Case {
    const char* name;
    Bytes setup;
    std::function<void(Bytes*)> change;  // setup.exe on disk, between the two
    bool innerOk;
  };
  Bytes wrongDigest = setup;
  wrongDigest[innerDigest] ^= 1;
  Bytes noInner = PatternBytes(70000, 3);
  const Case cases[] = {
      {"nested", setup, nullptr, true},
      {"nested digest wrong", wrongDigest, nullptr, false},
      {"no nested attachment", noInner, nullptr, false},
      {"trailer changed on disk", setup, [&](Bytes* b) { (*b)[innerDigest] ^= 1; }, false},
      {"data changed on disk", setup, [](Bytes* b) { (*b)[5000] ^= 1; }, true},
  };
  for (const Case& c : cases) {
    const Outcome with = Run(c.setup, true, c.change);
    Outcome without = Run(c.setup, false, c.change);
    EXPECT_TRUE(with.load) << c.name;
    EXPECT_EQ(with.inner, c.innerOk) << c.name;
    EXPECT_EQ(with.innerExists, c.innerOk) << c.name;
    if (c.innerOk) {
      EXPECT_EQ(with.innerBytes, bundle) << c.name;
    }
    if (c.change && c.innerOk) {
      // Data changed on disk after setup.exe was checked: the head start
      // keeps the checked bytes where reading the file again refuses them.
      EXPECT_EQ(without.trace.back(), "hash fail\n");
      without.trace.back() = "Extracted\n";
    }
    EXPECT_EQ(with.trace, without.trace) << c.name;
    EXPECT_EQ(with.progress, without.progress) << c.name;
  }
}

// A refused outer attachment leaves no nested file behind.
TEST_F(NestedExtractionTest, RefusedOuterLeavesNothing) {
  Bytes outer = MakeChain({{"LOAD", MakeChain({{"IBND", PatternBytes(3 << 20, 5)}})}});
  outer[10] ^= 1;
  const std::wstring path = Write(L"outer.bin", outer);
  {
    NestedExtraction nested("IBND", dir_.File(L"ibnd"));
    EXPECT_FALSE(ExtractAttachment(50, 0, {false, path, "LOAD", dir_.File(L"setup.exe"), &nested}));
  }
  EXPECT_FALSE(FileExists(dir_.File(L"ibnd")));
  EXPECT_FALSE(FileExists(dir_.File(L"setup.exe")));
}
