// The JSON reader, through the text and the stream entry points, and the
// tree it builds: copied, moved, and read with every accessor.
#include <cstdint>
#include <string>

#include "diagnostics/json/json_value.h"
#include "fuzz/fuzz_support.h"
#include "tests/unit/json_piece_input.h"

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

  // The same text in place and in windows of a size taken from its first
  // byte: the same tree, and the reads stop at the same place.
  JsonTextInput whole(text);
  JsonValue fromText;
  fromText.ParseStream(whole);
  FUZZ_CHECK(Visit(fromText, 0) == nodes);
  FUZZ_CHECK(whole.position() <= size);
  JsonPieceInput pieces(text, size == 0 ? 1 : 1 + data[0] % 7);
  JsonValue fromPieces;
  fromPieces.ParseStream(pieces);
  FUZZ_CHECK(Visit(fromPieces, 0) == nodes);
  FUZZ_CHECK(pieces.position() == whole.position());
  return 0;
}
