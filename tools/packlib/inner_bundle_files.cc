#include "tools/packlib/inner_bundle_files.h"

#include <algorithm>
#include <memory>
#include <set>

#include "tools/packlib/file_io.h"
#include "tools/packlib/inner_bundle_writer.h"
#include "tools/packlib/key_set.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace {

bool Refuse(std::string* error, const std::string& why) {
  *error = why;
  return false;
}

// One record, a chunk at a time, from a file or from memory.
bool WriteRecord(InnerBundleWriter* writer, const RecordSource& input, uint32_t chunk_size,
                 uint64_t* consumed, const std::function<void(uint64_t)>& on_bytes,
                 std::string* error) {
  File file;
  uint64_t size = input.inline_data.size();
  if (!input.use_inline) {
    if (!file.Open(input.path, FileAccess::kRead))
      return Refuse(error, "cannot open " + WideToMultiByte(input.path, false));
    const int64_t n = file.Size();
    if (n < 0) return Refuse(error, "cannot size " + WideToMultiByte(input.path, false));
    size = static_cast<uint64_t>(n);
  }
  const uint64_t chunks = (size + chunk_size - 1) / chunk_size;
  if (chunks > UINT32_MAX || !writer->BeginRecord(input.name, static_cast<uint32_t>(chunks)))
    return Refuse(error, "cannot write record " + input.name);
  std::vector<uint8_t> buffer;
  for (uint64_t done = 0; done < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size - done, chunk_size));
    const uint8_t* data;
    if (input.use_inline) {
      data = reinterpret_cast<const uint8_t*>(input.inline_data.data()) + done;
    } else {
      buffer.resize(n);
      if (file.Read(buffer.data(), n) != n)
        return Refuse(error, "cannot read " + WideToMultiByte(input.path, false));
      data = buffer.data();
    }
    if (!writer->WriteChunk(data, n)) return Refuse(error, "cannot write record " + input.name);
    done += n;
    *consumed += n;
    if (on_bytes) on_bytes(*consumed);
  }
  return true;
}

}  // namespace

bool CheckRecordNames(const std::vector<RecordSource>& records, std::string* error) {
  if (records.size() > kMaxInnerRecords)
    return Refuse(error, "at most " + std::to_string(kMaxInnerRecords) + " records");
  std::set<std::string> names;
  for (const RecordSource& r : records) {
    if (r.name.empty() || r.name.size() > 255 || r.name.find('\0') != std::string::npos)
      return Refuse(error, "record names are 1 to 255 bytes: " + r.name);
    if (!names.insert(r.name).second) return Refuse(error, "record named twice: " + r.name);
  }
  return true;
}

bool WriteInnerBundleFile(const std::wstring& out, const std::wstring& keys_dir,
                          const std::vector<RecordSource>& records, uint32_t chunk_size,
                          const std::function<void(uint64_t)>& on_bytes, std::string* error) {
  if (chunk_size == 0 || chunk_size > kMaxInnerChunkSize)
    return Refuse(error, "chunk size must be 1 to " + std::to_string(kMaxInnerChunkSize));
  if (!CheckRecordNames(records, error)) return false;
  const std::string keys = WideToMultiByte(keys_dir, false);
  std::vector<uint8_t> table, certificate;
  std::unique_ptr<PrivateKeySigner> signing_key;
  if (!ReadFileBytes(KeySetFile(keys_dir, kBundleKeyTableFile), &table) || table.empty())
    return Refuse(error, "cannot read the descrambler table in " + keys);
  if (!OpenKeySetSigner(keys_dir, KeyRole::kBundleSigning, &signing_key, error)) return false;
  if (!ReadFileBytes(KeySetFile(keys_dir, kBundleSigningCertFile), &certificate))
    return Refuse(error, "cannot read the bundle signing certificate in " + keys);

  File file;
  if (!file.Open(out, FileAccess::kCreate))
    return Refuse(error, "cannot create " + WideToMultiByte(out, false));
  InnerBundleWriter writer([&file](const uint8_t* p, size_t n) { return file.Write(p, n); },
                           table, *signing_key);
  *error = "cannot write " + WideToMultiByte(out, false);
  uint64_t consumed = 0;
  bool ok = writer.WriteHeader(static_cast<uint32_t>(records.size()));
  for (size_t i = 0; ok && i < records.size(); ++i)
    ok = WriteRecord(&writer, records[i], chunk_size, &consumed, on_bytes, error);
  ok = ok && writer.WriteEndMarker();
  std::string why;
  if (ok && !writer.WriteSignedTail(certificate, &why)) {
    *error = why.empty() ? *error : "the bundle signing key: " + why;
    ok = false;
  }
  file.Close();
  if (!ok) RemoveFile(out);
  return ok;
}
