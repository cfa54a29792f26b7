#include "tools/qxpack/product.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tools/qxpack/script_check.h"
#include "util/text_conv.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Reads one JSON object's members, each at most once, and reports the keys
// nobody asked for. Errors name the key with its path ("files[2].tag").
class Members {
 public:
  Members(const json& object, std::string path) : object_(object), path_(std::move(path)) {}

  bool String(const char* key, bool required, std::string* out, std::string* error) {
    const json* v = Find(key);
    if (!v) return !required || Missing(key, "a text", error);
    if (!v->is_string()) return Wrong(key, "a text", *v, error);
    *out = v->get<std::string>();
    if (out->empty()) return Fail(key, "must not be empty", error);
    return true;
  }

  bool Unsigned(const char* key, uint64_t low, uint64_t high, uint64_t* out, std::string* error) {
    const json* v = Find(key);
    if (!v) return true;
    if (!v->is_number_unsigned()) return Wrong(key, "a whole number", *v, error);
    *out = v->get<uint64_t>();
    if (*out < low || *out > high)
      return Fail(key, "must be " + std::to_string(low) + " to " + std::to_string(high), error);
    return true;
  }

  const json* Array(const char* key, std::string* error, bool* ok) {
    const json* v = Find(key);
    *ok = !v || v->is_array() || Wrong(key, "a list", *v, error);
    return *ok ? v : nullptr;
  }

  const json* Object(const char* key, std::string* error, bool* ok) {
    const json* v = Find(key);
    *ok = !v || v->is_object() || Wrong(key, "an object", *v, error);
    return *ok ? v : nullptr;
  }

  bool NoOthers(std::string* error) const {
    for (auto it = object_.begin(); it != object_.end(); ++it) {
      if (!asked_.count(it.key())) {
        *error = "unknown key \"" + Name(it.key().c_str()) + "\"";
        return false;
      }
    }
    return true;
  }

  std::string Name(const char* key) const { return path_.empty() ? key : path_ + "." + key; }

  bool Fail(const char* key, const std::string& problem, std::string* error) const {
    *error = "key \"" + Name(key) + "\": " + problem;
    return false;
  }

 private:
  const json* Find(const char* key) {
    asked_.insert(key);
    auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
  }
  bool Missing(const char* key, const char* kind, std::string* error) const {
    return Fail(key, std::string("missing (") + kind + ")", error);
  }
  bool Wrong(const char* key, const char* kind, const json& v, std::string* error) const {
    return Fail(key, std::string("must be ") + kind + ", not " + v.type_name(), error);
  }

  const json& object_;
  std::string path_;
  std::set<std::string> asked_;
};

std::string Resolve(const fs::path& base, const std::string& path) {
  if (path.empty()) return path;
  const fs::path p(path);
  return (p.is_absolute() ? p : base / p).lexically_normal().string();
}

bool ReadText(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  *text = all.str();
  return !in.bad();
}

bool RegularFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

bool ReadEntries(const json& list, const fs::path& base, std::vector<ProductEntry>* out,
                 std::string* error) {
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string path = "files[" + std::to_string(i) + "]";
    if (!list[i].is_object()) {
      *error = "key \"" + path + "\": must be an object, not " + list[i].type_name();
      return false;
    }
    Members m(list[i], path);
    ProductEntry e;
    if (!m.String("file", true, &e.file, error) || !m.String("record", true, &e.record, error) ||
        !m.String("tag", true, &e.tag, error) ||
        !m.String("destination", true, &e.destination, error) || !m.NoOthers(error))
      return false;
    // Each becomes a field of a script line: a comma or line end would split it.
    for (const auto& [key, value] : {std::pair<const char*, const std::string&>{"record", e.record},
                                     {"tag", e.tag},
                                     {"destination", e.destination}}) {
      if (value.find_first_of(",\r\n") != std::string::npos)
        return m.Fail(key, "must not contain a comma or a line end", error);
    }
    e.file = Resolve(base, e.file);
    out->push_back(e);
  }
  return true;
}

}  // namespace

bool ReadProductDescription(const std::string& path, ProductDescription* product,
                            std::string* error) {
  std::string text;
  if (!ReadText(path, &text)) {
    *error = "cannot read " + path;
    return false;
  }
  json root;
  try {
    root = json::parse(text);
  } catch (const json::exception& e) {
    *error = path + " is not valid JSON: " + e.what();
    return false;
  }
  if (!root.is_object()) {
    *error = path + ": the description must be a JSON object";
    return false;
  }
  const fs::path base = fs::absolute(fs::path(path)).parent_path();
  Members m(root, "");
  ProductDescription p;
  uint64_t chunk = p.chunk_size;
  bool ok = true;
  const json* files = nullptr;
  const json* authenticode = nullptr;
  if (!m.String("stub", false, &p.stub, error) || !m.String("setup", true, &p.setup, error) ||
      !m.String("type", true, &p.type, error) || !m.String("keys", true, &p.keys, error) ||
      !m.String("output", false, &p.output, error) || !m.String("a404", false, &p.a404, error) ||
      !m.Unsigned("chunkSize", 1, kMaxInnerChunkSize, &chunk, error) ||
      !m.String("script", false, &p.script, error) ||
      !m.String("folder", false, &p.folder, error) ||
      !((files = m.Array("files", error, &ok)), ok) ||
      !((authenticode = m.Object("authenticode", error, &ok)), ok) || !m.NoOthers(error))
    return false;
  // The stub matches "-" + type inside tags: blanks would never match.
  if (p.type.find_first_of(" \t\r\n,") != std::string::npos)
    return m.Fail("type", "must be one word (no blanks or commas)", error);
  if (files && (!p.script.empty() || !p.folder.empty()))
    return m.Fail("files", "give either \"files\" or \"script\" with \"folder\", not both", error);
  if (!files && (p.script.empty() || p.folder.empty()))
    return m.Fail("files", "missing: give \"files\", or \"script\" with \"folder\"", error);
  if (files && !ReadEntries(*files, base, &p.files, error)) return false;
  if (authenticode) {
    Members a(*authenticode, "authenticode");
    AuthenticodeCredentials& c = p.authenticode;
    if (!a.String("certificate", false, &c.certificate, error) ||
        !a.String("key", false, &c.key, error) || !a.String("pkcs12", false, &c.pkcs12, error) ||
        !a.String("password", false, &c.password, error) || !a.NoOthers(error))
      return false;
    if (c.pkcs12.empty() == (c.certificate.empty() || c.key.empty()) ||
        (!c.pkcs12.empty() && !c.certificate.empty()))
      return m.Fail("authenticode", "needs \"certificate\" with \"key\", or \"pkcs12\"", error);
    c.certificate = Resolve(base, c.certificate);
    // A key in a PKCS #11 token is a URI, not a path.
    if (c.key.compare(0, 7, "pkcs11:") != 0) c.key = Resolve(base, c.key);
    c.pkcs12 = Resolve(base, c.pkcs12);
  }
  p.chunk_size = static_cast<uint32_t>(chunk);
  for (std::string* s : {&p.stub, &p.setup, &p.keys, &p.output, &p.a404, &p.script, &p.folder})
    *s = Resolve(base, *s);
  if (p.output.empty())
    p.output = (base / fs::path(path).filename().replace_extension(".exe")).string();
  *product = p;
  return true;
}

bool GatherProductContents(const ProductDescription& product, ProductContents* contents,
                           std::string* error) {
  std::vector<RecordSource> records{RecordSource::FromText("install_script", "")};
  std::map<std::string, std::string> files;  // record name -> file
  auto add = [&](const std::string& name, const std::string& file) {
    auto [it, fresh] = files.emplace(name, file);
    if (!fresh && it->second != file) {
      *error = "record name \"" + name + "\" is used for two files: " + it->second + " and " + file;
      return false;
    }
    if (!RegularFile(file)) {
      *error = "record \"" + name + "\": file not found: " + file;
      return false;
    }
    if (fresh) records.push_back(RecordSource::FromFile(name, MultiByteToWide(file)));
    return true;
  };

  std::string script;
  if (product.files.empty() && !product.script.empty()) {
    if (!ReadText(product.script, &script)) {
      *error = "cannot read the install script " + product.script;
      return false;
    }
    std::error_code ec;
    std::vector<std::string> found;
    for (fs::recursive_directory_iterator it(product.folder, ec), end; !ec && it != end;
         it.increment(ec)) {
      if (it->is_regular_file(ec)) found.push_back(it->path().string());
    }
    if (ec) {
      *error = "cannot list the folder " + product.folder + ": " + ec.message();
      return false;
    }
    std::sort(found.begin(), found.end());
    for (const std::string& f : found)
      if (!add(fs::path(f).lexically_relative(product.folder).generic_string(), f)) return false;
  } else {
    for (const ProductEntry& e : product.files) {
      if (!add(e.record, e.file)) return false;
      script += e.tag + "," + e.record + "," + e.destination + "\n";
    }
  }
  if (!CheckRecordNames(records, error)) return false;

  // Every line, selected or not, must be complete and sound: a line that only
  // another run type or system selects is just as wrong.
  const std::vector<std::string> lines = ScriptLinesOf(script);
  size_t number = 0;
  for (const std::string& piece : SplitString(script, '\n')) {
    ++number;
    std::string raw = piece;
    raw.erase(std::remove(raw.begin(), raw.end(), '\r'), raw.end());
    if (raw.size() + 1 >= kScriptLineCapacity) {
      *error = "install script line " + std::to_string(number) + " is longer than " +
               std::to_string(kScriptLineCapacity - 2) + " bytes";
      return false;
    }
    const std::string line = TrimScriptLine(raw);
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> fields = SplitString(line, ',');
    const std::string where = "install script line " + std::to_string(number) + ": ";
    if (fields.size() < 3 || !StartsWith(fields[0], "dep", false)) {
      *error = where + "needs \"dep...,record,destination\": " + line;
      return false;
    }
    if (!files.count(fields[1])) {
      *error = where + "record \"" + fields[1] + "\" does not exist";
      return false;
    }
    if (!IsSafeDestination(fields[2]) || !IsSafeDestination(MultiByteToWide(fields[2]))) {
      *error = where + "destination \"" + fields[2] + "\" leaves the workspace";
      return false;
    }
  }
  for (const SystemCase& system : kSystemCases) {
    const ScriptConditions conditions{system.windows64, system.major_version,
                                      TrimRunType(product.type)};
    const Selection s =
        SelectFiles(lines, conditions, [&](const std::string& r) { return files.count(r) > 0; });
    // A release refuses what a real run would merely survive, too.
    for (const auto* list : {&s.problems, &s.warnings}) {
      if (!list->empty()) {
        *error = std::string("install script, ") + system.label + ": " + list->front();
        return false;
      }
    }
  }

  contents->input_bytes = script.size();
  records[0].inline_data = script;
  for (const auto& [name, file] : files) {
    std::error_code ec;
    contents->input_bytes += fs::file_size(file, ec);
  }
  contents->records = std::move(records);
  return true;
}
