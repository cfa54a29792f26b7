// A small, forgiving JSON reader. Text goes in as narrow (UTF-8) bytes and
// comes out as a tree of JsonValue nodes. Reading never fails as a whole:
// what the reader dislikes is reported as one line on standard output, the
// offending character is skipped, and whatever could be read stays in the
// tree. Exactly one value is read; anything after it is ignored.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "diagnostics/json/json_input.h"

// The numbering is fixed (0..7). None marks "nothing was read" and only
// exists while an array element is being read.
enum class JsonType : int {
  String = 0,
  Integer = 1,
  Float = 2,
  Object = 3,
  Array = 4,
  Boolean = 5,
  Null = 6,
  None = 7,
};

class JsonValue {
 public:
  // Keys are unique and ordered byte-wise.
  using ObjectMap = std::map<std::string, JsonValue>;
  using ArrayList = std::vector<JsonValue>;

  // Containers deeper than this are not read: a container that would open
  // the next level is passed over whole (without recursion, brackets inside
  // its strings not counted) with a message instead of exhausting the stack.
  static constexpr int kMaxNesting = 512;

  JsonValue();  // a fresh node is Null
  ~JsonValue();
  // Copies are deep; a moved-from node is Null.
  JsonValue(const JsonValue& other);
  JsonValue(JsonValue&& other) noexcept;
  JsonValue& operator=(const JsonValue& other);
  JsonValue& operator=(JsonValue&& other) noexcept;

  // Reads one value into this node. When nothing could be read the node
  // keeps its previous value. A stream is left right behind the value read
  // (what follows stays unread). The messages are written to standard output
  // and flushed before it returns.
  void Parse(const std::string& text);
  void ParseStream(JsonInput& in);

  // Each setter frees the old payload when the type changes and otherwise
  // overwrites it in place.
  void SetString(std::string value);
  void SetInteger(int64_t value);
  void SetFloat(double value);
  void SetBoolean(bool value);
  void SetObject(ObjectMap value = ObjectMap());
  void SetArray(ArrayList value = ArrayList());
  void SetNull();

  JsonType type() const { return type_; }

  // Typed accessors never throw and never convert between types. For a node
  // of another type they answer an empty container / 0 / false / "". The
  // empty containers are shared and read-only, so a caller that wants
  // insertion semantics (map[key]) works on its own copy of the map.
  const ObjectMap& AsObject() const;
  const ArrayList& AsArray() const;
  bool IsArray() const { return type_ == JsonType::Array; }
  int64_t AsInteger() const;
  double AsFloat() const;
  bool AsBoolean() const;
  const std::string& AsString() const;

 private:
  struct Payload;
  class Reporter;  // the messages of one parse, written out in large pieces

  void ParseAt(JsonInput& in, int depth, Reporter& reporter);
  void ReadObjectMembers(JsonInput& in, int depth, Reporter& reporter);
  void ReadArrayElements(JsonInput& in, int depth, Reporter& reporter);
  void ReadNumber(JsonInput& in, Reporter& reporter);

  JsonType type_;
  std::unique_ptr<Payload> payload_;  // empty for Null and None
};
