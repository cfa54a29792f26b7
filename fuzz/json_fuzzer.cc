// The JSON reader, through the text and the stream entry points, and the
// tree it builds: copied, moved, and read with every accessor.
#include <cstdint>
#include <sstream>
#include <string>

#include "diagnostics/json/json_value.h"
#include "fuzz/fuzz_support.h"

namespace {

size_t Visit(const JsonValue& v, int depth) {
  FUZZ_CHECK(depth <= JsonValue::kMaxNesting + 1);
  size_t nodes = 1;
  v.AsInteger();
  v.AsFloat();
  v.AsBoolean();
  v.AsString();
  for (const auto& member : v.AsObject()) nodes += Visit(member.second, depth + 1);
  for (const JsonValue& element : v.AsArray()) {
    FUZZ_CHECK(element.type() != JsonType::None);
    nodes += Visit(element, depth + 1);
  }
  return nodes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  JsonValue value;
  value.Parse(text);
  const size_t nodes = Visit(value, 0);

  JsonValue copy(value);
  FUZZ_CHECK(Visit(copy, 0) == nodes);
  JsonValue moved(std::move(copy));
  FUZZ_CHECK(copy.type() == JsonType::Null);
  if (value.IsArray() && !value.AsArray().empty()) value = value.AsArray()[0];  // from inside itself

  std::istringstream stream(text);
  JsonValue fromStream;
  fromStream.ParseStream(stream);
  FUZZ_CHECK(Visit(fromStream, 0) == nodes);
  return 0;
}
