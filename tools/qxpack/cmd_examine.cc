// qxpack inspect FILE: PE facts, every attachment chain the stub's readers
// see, and the signature verdict of the stub's own verifier. The verdict is
// the last line; an invalid signature exits 1.
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "bundle/attachment_chain.h"
#include "bundle/pe_layout.h"
#include "integrity/builtin_keys.h"
#include "integrity/file_signature.h"
#include "tools/packlib/file_io.h"
#include "tools/packlib/pe_bundle_section.h"
#include "tools/qxpack/commands.h"
#include "tools/qxpack/stub_keys.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace {

struct ChainEnd {
  int64_t end;
  std::string where;
};

const char* MachineName(uint16_t machine) {
  return machine == 0x014C ? "i386" : machine == 0x8664 ? "AMD64" : "other";
}

void PrintPeFacts(const PeFacts& f) {
  std::printf("PE: machine %s (0x%04x), %s, %zu sections, SizeOfImage 0x%08x, CheckSum 0x%08x\n",
              MachineName(f.machine), f.machine, f.pe32Plus ? "PE32+" : "PE32",
              f.sections.size(), f.sizeOfImage, f.checkSum);
  for (size_t i = 0; i < f.sections.size(); ++i) {
    const PeSectionFacts& s = f.sections[i];
    std::printf("  section %2zu %-8s VA 0x%08x VirtualSize 0x%08x raw 0x%08x SizeOfRawData 0x%08x\n",
                i, s.name.c_str(), s.virtualAddress, s.virtualSize, s.pointerToRawData,
                s.sizeOfRawData);
  }
  if (f.certificateSize == 0) {
    std::printf("certificate table: none\n");
  } else {
    std::printf("certificate table: offset 0x%08x, %u bytes\n", f.certificateOffset,
                f.certificateSize);
  }
}

// The chain ends the readers use, each listed once with every reader that uses it.
std::vector<ChainEnd> ChainEnds(File& file, bool isPe) {
  std::vector<ChainEnd> ends;
  auto add = [&](int64_t end, const std::string& where) {
    if (end < 0) return;
    for (ChainEnd& e : ends) {
      if (e.end == end) {
        e.where += ", " + where;
        return;
      }
    }
    ends.push_back({end, where});
  };
  const int64_t size = file.Size();
  if (isPe) add(GetLastSectionEnd(file), "bundle section");
  add(size, "end of file");
  if (isPe && size >= 0 && size <= UINT32_MAX) {
    const uint32_t fileSize = static_cast<uint32_t>(size);
    add(size - GetAppendedDataSize(file, fileSize, 0), "signed file, mode 0");
    add(size - GetAppendedDataSize(file, fileSize, 1), "before the certificate table");
  }
  return ends;
}

// Prints the chain; answers how many of its attachments fail their digest.
// Walks it twice (to count, then to print) rather than keeping a list: a
// chain of many small attachments then costs no more memory than any other.
int PrintChain(File& file, const ChainEnd& end) {
  AttachmentInfo a;
  size_t count = 0;
  for (ChainWalker walker(file, end.end); walker.Next(&a) == ChainWalker::Step::kTrailer;) ++count;
  std::printf("chain ending at 0x%08" PRIx64 " (%s): ", static_cast<uint64_t>(end.end),
              end.where.c_str());
  if (count == 0) {
    std::printf("no attachments\n");
    return 0;
  }
  int bad = 0;
  std::printf("%zu attachment%s\n", count, count == 1 ? "" : "s");
  std::vector<uint8_t> buffer;
  for (ChainWalker walker(file, end.end); walker.Next(&a) == ChainWalker::Step::kTrailer;) {
    const bool intact = a.dataOffset >= 0 && AttachmentDigestMatches(file, a, &buffer);
    if (!intact) ++bad;
    std::printf("  %-4s %10u bytes at 0x%08" PRIx64 "  %s\n", a.type.c_str(), a.size,
                static_cast<uint64_t>(a.dataOffset < 0 ? 0 : a.dataOffset),
                intact ? "digest ok" : a.dataOffset < 0 ? "invalid position" : "digest MISMATCH");
  }
  return bad;
}

// The keys the signature is checked with, as the stub would: its own key
// block's. A file without one (a setup program) is checked with the key set
// named by --keys. False, with the line printed, when there are no keys or
// they are not the pinned set's.
bool ChooseKeys(const std::string& path, const std::string& pinned) {
  std::vector<uint8_t> block;
  PublicKeyHalves halves, expected;
  std::string error;
  bool marked = false;
  const bool haveBlock = ReadStubKeyBlock(path, &block, &halves, &marked, &error);
  if (!haveBlock && (marked || pinned.empty())) {
    std::printf("trusted keys: %s%s\n", error.c_str(),
                marked ? "" : "; name the key set with --keys DIR");
    return false;
  }
  if (!pinned.empty() && !LoadPublicKeyHalves(MultiByteToWide(pinned), &expected, &error)) {
    std::printf("trusted keys: %s\n", error.c_str());
    return false;
  }
  if (!haveBlock) {
    std::printf("trusted keys: no key block; the key set %s\n", pinned.c_str());
    halves = expected;
    if (!MakeKeyBlock(halves, &block, &error)) {
      std::printf("trusted keys: the key set %s %s\n", pinned.c_str(), error.c_str());
      return false;
    }
  } else {
    std::printf("trusted keys: the stub's key block\n");
  }
  for (const std::string& line : Fingerprints(halves)) std::printf("  %s\n", line.c_str());
  const std::vector<std::string> differ =
      haveBlock && !pinned.empty() ? DifferingHalves(expected, halves) : std::vector<std::string>();
  if (!differ.empty()) {
    std::printf("trusted keys: the stub trusts another %s than the key set %s holds\n",
                JoinNames(differ).c_str(), pinned.c_str());
    return false;
  }
  return UseKeyBlock(block.data(), block.size());
}

}  // namespace

int CmdInspect(const Args& args) {
  std::string name, pinned;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--keys" && i + 1 < args.size() && pinned.empty()) {
      pinned = args[++i];
    } else if (name.empty() && !args[i].empty() && args[i][0] != '-') {
      name = args[i];
    } else if (args[i] == "--keys") {
      return UsageError("inspect", "--keys needs a value");
    } else {
      return BadArgument("inspect", args[i]);
    }
  }
  if (name.empty()) return UsageError("inspect", "needs FILE");
  const std::wstring path = MultiByteToWide(name);
  std::vector<uint8_t> content;
  if (!ReadFileBytes(path, &content)) return Fail("cannot read " + name);
  std::printf("file: %s (%zu bytes)\n", name.c_str(), content.size());

  PeFacts facts;
  std::string why;
  const bool isPe = ReadPeFacts(content, &facts, &why);
  if (isPe) {
    PrintPeFacts(facts);
  } else {
    std::printf("PE: %s\n", why.c_str());
  }

  File file;
  if (!file.Open(path, FileAccess::kRead)) return Fail("cannot open " + name);
  int bad = 0;
  for (const ChainEnd& end : ChainEnds(file, isPe)) bad += PrintChain(file, end);
  file.Close();
  // The signature does not cover attachments stored after its record (the
  // setup program among them); their digests are what the stub checks.
  if (bad) std::printf("attachments: %d failing their digest\n", bad);

  if (!ChooseKeys(name, pinned)) {
    std::printf("signature: not checked\n");
    return 1;
  }
  const FileSignatureReport signature = CheckFileSignature(path);
  if (signature.hasRecord) {
    std::printf("signature record: _SG2 data at 0x%08x (signs the %u bytes before it)\n",
                signature.signedLength, signature.signedLength);
  } else {
    std::printf("signature record: none\n");
  }
  switch (signature.verdict) {
    case FileSignatureReport::Verdict::kInvalid:
      std::printf("signature: invalid\n");
      return 1;
    case FileSignatureReport::Verdict::kWholePrefix:
      std::printf("signature: valid (whole-prefix attempt)\n");
      break;
    case FileSignatureReport::Verdict::kHeaderRanges:
      std::printf("signature: valid (header-range attempt)\n");
      break;
  }
  return 0;
}
