// qxpack sign FILE --keys DIR: appends a "_SG2" record that signs every byte
// of FILE before it (whole-prefix mode, for the setup program).
#include <cstdio>
#include <memory>
#include <filesystem>
#include <fstream>

#include "bundle/attachment.h"
#include "tools/packlib/exe_signer.h"
#include "tools/packlib/file_io.h"
#include "tools/packlib/key_set.h"
#include "tools/packlib/pe_bundle_section.h"
#include "tools/qxpack/commands.h"
#include "util/text_conv.h"

int CmdSign(const Args& args) {
  if (args.size() != 3 || args[1] != "--keys") {
    for (const std::string& a : args)
      if (a[0] == '-' && a != "--keys") return BadArgument("sign", a);
    return UsageError("sign", "needs FILE --keys DIR");
  }
  const std::string& file = args[0];
  const std::wstring widePath = MultiByteToWide(file);

  std::string error;
  std::unique_ptr<PrivateKeySigner> key;
  if (!OpenKeySetSigner(MultiByteToWide(args[2]), KeyRole::kExeSigning, &key, &error))
    return Fail(error);
  std::vector<uint8_t> content;
  if (!ReadFileBytes(widePath, &content)) return Fail("cannot read " + file);

  // The verifier looks for the record before a certificate table, not after
  // it, so a record appended behind one could never be found.
  PeFacts facts;
  if (ReadPeFacts(content, &facts, nullptr) && facts.certificateSize != 0) {
    return Fail(file + " carries a certificate table; sign it before it is Authenticode-signed");
  }

  const size_t signedLength = content.size();
  std::vector<uint8_t> signedFile(content);
  if (!AppendWholePrefixSignature(&signedFile, *key, &error)) return Fail(error);

  std::ofstream out(file, std::ios::binary | std::ios::app);
  out.write(reinterpret_cast<const char*>(signedFile.data() + signedLength),
            static_cast<std::streamsize>(signedFile.size() - signedLength));
  out.close();

  // Read the record back the way the verifier will.
  uint32_t dataOffset = 0;
  const std::string record = ReadSignedFileAttachment(widePath, "_SG2", &dataOffset, 0);
  if (!out || record.empty() || dataOffset != signedLength) {
    std::error_code ec;
    std::filesystem::resize_file(file, signedLength, ec);
    return Fail("could not append a readable signature record to " + file);
  }
  std::printf("%s: signed %zu bytes\n", file.c_str(), signedLength);
  return 0;
}
