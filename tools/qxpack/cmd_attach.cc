// qxpack attach FILE TYPE DATAFILE: appends one attachment to FILE's chain.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tools/packlib/attachment_writer.h"
#include "tools/packlib/file_io.h"
#include "tools/qxpack/commands.h"
#include "util/text_conv.h"

int CmdAttach(const Args& args) {
  if (args.size() != 3) return UsageError("attach", "needs FILE TYPE DATAFILE");
  const std::string& file = args[0];
  const std::string& type = args[1];
  if (type.size() != 4) return Fail("attachment type must be exactly 4 characters: " + type);
  std::vector<uint8_t> data;
  if (!ReadFileBytes(MultiByteToWide(args[2]), &data)) return Fail("cannot read " + args[2]);
  std::vector<uint8_t> attachment;
  if (!AppendAttachment(&attachment, type, data.data(), data.size())) {
    return Fail(args[2] + " is too large for an attachment");
  }
  // Append in place rather than rewrite, so a failed write cannot lose FILE;
  // a partly appended attachment is cut off again.
  std::error_code ec;
  const uintmax_t oldSize = std::filesystem::file_size(file, ec);
  if (ec) return Fail("cannot open " + file + ": " + ec.message());
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out.write(reinterpret_cast<const char*>(attachment.data()),
            static_cast<std::streamsize>(attachment.size()));
  out.close();
  if (!out) {
    std::filesystem::resize_file(file, oldSize, ec);
    return Fail("cannot append to " + file);
  }
  std::printf("%s: attached %s (%zu bytes)\n", file.c_str(), type.c_str(), data.size());
  return 0;
}
