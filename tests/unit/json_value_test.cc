#include "diagnostics/json/json_value.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/unit/json_piece_input.h"

namespace {

struct Outcome {
  JsonValue value;
  std::string output;  // everything the reader wrote to standard output
};

// Parses into a node that already holds a marker string, so that "nothing
// was read" shows as the marker surviving. A step reads the text through
// windows of that many bytes instead of in place.
Outcome ParseCaptured(const std::string& text, size_t step = 0) {
  Outcome result;
  result.value.SetString("(unchanged)");
  testing::internal::CaptureStdout();
  if (step == 0) {
    result.value.Parse(text);
  } else {
    JsonPieceInput pieces(text, step);
    result.value.ParseStream(pieces);
  }
  result.output = testing::internal::GetCapturedStdout();
  return result;
}

// Compact rendering of a tree for table comparisons; floats carry an "f".
std::string Dump(const JsonValue& v) {
  std::ostringstream out;
  switch (v.type()) {
    case JsonType::String: out << '"' << v.AsString() << '"'; break;
    case JsonType::Integer: out << v.AsInteger(); break;
    case JsonType::Float: out << 'f' << v.AsFloat(); break;
    case JsonType::Boolean: out << (v.AsBoolean() ? "true" : "false"); break;
    case JsonType::Null: out << "null"; break;
    case JsonType::None: out << "none"; break;
    case JsonType::Object: {
      out << '{';
      const char* sep = "";
      for (const auto& member : v.AsObject()) {
        out << sep << '"' << member.first << "\":" << Dump(member.second);
        sep = ",";
      }
      out << '}';
      break;
    }
    case JsonType::Array: {
      out << '[';
      const char* sep = "";
      for (const auto& element : v.AsArray()) {
        out << sep << Dump(element);
        sep = ",";
      }
      out << ']';
      break;
    }
  }
  return out.str();
}

const char kBadUnicode[] = "Invalid \\u character, skipping it.\n";
const char kNotUtf8[] = "File is not in UTF-8, not parsing.\n";

struct Case {
  std::string text;
  std::string tree;    // Dump of the result
  std::string output;  // exact report lines
};

// Every case is read in place and through windows of 1, 2 and 3 bytes, so
// that each step back and look ahead also happens across a window's edge.
void CheckCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    for (size_t step : {0, 1, 2, 3}) {
      SCOPED_TRACE("input: " + c.text + ", step " + std::to_string(step));
      const Outcome r = ParseCaptured(c.text, step);
      EXPECT_EQ(Dump(r.value), c.tree);
      EXPECT_EQ(r.output, c.output);
    }
  }
}

TEST(JsonValueTest, ScalarsAndLiterals) {
  CheckCases({
      {"-5", "-5", ""},
      {"5\n", "5", ""},
      {"5", "\"(unchanged)\"", ""},  // too short for the encoding test
      {"5 6", "5", ""},               // only the first value is read
      {"007", "0", ""},
      {"5-3", "53", "Expected a digit, '.', 'e' or 'E', got '-' instead, ignoring it.\n"},
      {"-\n", "0", ""},
      {"true", "true", ""},
      {"false", "false", ""},
      {"fals", "\"(unchanged)\"", ""},
      {"tru 1", "1", ""},
      {"null", "null", ""},
      {"nul", "\"(unchanged)\"", "json input ends incorrectly\n"},
      {"nux 7", "7", "invalid characters found\n"},
      {"x 5", "5", "Invalid character found: 'x'\n"},
      {"\xEF\xBB\xBF" "7 ", "7",
       "Invalid character found: '\xEF'\nInvalid character found: '\xBB'\n"
       "Invalid character found: '\xBF'\n"},
      {std::string("{\0\"\0a\0\"\0", 8), "\"(unchanged)\"", kNotUtf8},
      {std::string("\0\0\0[", 4), "\"(unchanged)\"", kNotUtf8},
      // 64-bit range: fits, one over, far over (each side).
      {"9223372036854775807", "9223372036854775807", ""},
      {"9223372036854775808", "0", ""},
      {"99999999999999999999", "0", ""},
      {"-9223372036854775808", "-9223372036854775808", ""},
      {"-9223372036854775809", "0", ""},
  });
}

TEST(JsonValueTest, FloatTexts) {
  struct FloatCase {
    const char* text;
    double expected;
  };
  const FloatCase cases[] = {
      {"1.5e3", 1500.0}, {"1.2.3", 1.23},  {"1e5e6", 1e56},  {"1E-2", 0.01},
      {"-2.5e+1", -25.0}, {"1.5e", 0.0},   {"1e999", 0.0},   {"0.5", 0.5},
  };
  for (const FloatCase& c : cases) {
    SCOPED_TRACE(c.text);
    const Outcome r = ParseCaptured(c.text);
    EXPECT_EQ(r.value.type(), JsonType::Float);
    EXPECT_DOUBLE_EQ(r.value.AsFloat(), c.expected);
    EXPECT_EQ(r.output, "");
  }
}

TEST(JsonValueTest, Strings) {
  CheckCases({
      {"\"abc\"", "\"abc\"", ""},
      {"\"abc", "\"\"", ""},  // kept only once the closing quote is read
      {"\"a\\\"b\\\\c\\/d\\qe\"", "\"a\"b\\c/de\"", ""},
      {"\"\\b\\f\\n\\r\\t\"", "\"\b\f\n\r\t\"", ""},
      {"\"\\u0041\\u00e9\\u07FF\"", "\"A\xC3\xA9\xDF\xBF\"", ""},
      {"\"\\u0800\\uFFFF\"", "\"\xE0\xA0\x80\xEF\xBF\xBF\"", ""},
      {"\"\\uD83D\\uDE00\"", "\"\xED\xA0\xBD\xED\xB8\x80\"", ""},
      // The quote is one of the four escape characters; "a" is a hex digit.
      {"\"\\u12\"ab\"", "\"b\"", kBadUnicode},
      {"\"\\uxyz0!\"", "\"!\"", std::string(kBadUnicode) + kBadUnicode + kBadUnicode},
      {"\"\xC3\xA9\x01\"", "\"\xC3\xA9\x01\"", ""},
  });
}

TEST(JsonValueTest, ObjectsAndArrays) {
  CheckCases({
      {"{\"enable\": 1, \"include\": [\"a\", \"b\"]}", "{\"enable\":1,\"include\":[\"a\",\"b\"]}",
       ""},
      {"{\"a\" 1}", "{}", ""},
      {"{x:1}", "{}",
       "Expected '\"', got 'x', ignoring it.\nExpected '\"', got ':', ignoring it.\n"
       "Expected '\"', got '1', ignoring it.\n"},
      {"{\"a\":1,\"a\":\"two\"}", "{\"a\":\"two\"}", ""},
      {"{\"b\":1 junk,\"a\":null}", "{\"a\":null,\"b\":1}", ""},
      {"{\"a\":{\"b\":[true]}", "{\"a\":{\"b\":[true]}}", ""},
      {"{\"a\":", "{\"a\":null}", ""},
      {"[1,,2]", "[1,2]", "Invalid character found: ','\n"},
      {"[1 2]", "[1]", ""},
      {"[ ]", "[]", ""},
      {"[1,[2,[3]],{}]", "[1,[2,[3]],{}]", ""},
      {"[1,fals,2]", "[1,2]", ""},
      {std::string("[1, \0\0]", 8), "[1]", kNotUtf8},
  });
}

TEST(JsonValueTest, StreamKeepsWhatFollowsTheValue) {
  const std::pair<std::string, size_t> cases[] = {
      {"{\"a\":7} tail", 7}, {"007", 1}, {"[3]x", 3},
      {"12", 2},  // read to its end
      {"5", 0},   // too short for the encoding test: nothing consumed
  };
  for (const auto& [text, position] : cases) {
    SCOPED_TRACE(text);
    JsonValue v;
    JsonTextInput whole(text);
    v.ParseStream(whole);
    EXPECT_EQ(whole.position(), position);
    JsonPieceInput pieces(text, 2);
    v.ParseStream(pieces);
    EXPECT_EQ(pieces.position(), position);
  }
}

// A text of many faults makes one line each, in order, byte for byte, also
// past the reader's output buffer (a few hundred kilobytes).
TEST(JsonValueTest, ManyReportsArriveWhole) {
  const int kLines = 100000;
  std::string text = "[";
  std::string expected;
  for (int i = 0; i < kLines; ++i) {
    const char bad = static_cast<char>(i % 2 ? 'x' : '#');
    text += bad;
    expected += std::string("Invalid character found: '") + bad + "'\n";
  }
  text += "1]";
  const Outcome r = ParseCaptured(text);
  EXPECT_EQ(Dump(r.value), "[1]");
  EXPECT_EQ(r.output.size(), expected.size());
  EXPECT_TRUE(r.output == expected);  // not EXPECT_EQ: a mismatch would print megabytes
}

TEST(JsonValueTest, AccessorsNeverConvert) {
  JsonValue v;
  EXPECT_EQ(v.type(), JsonType::Null);
  v.SetBoolean(true);
  EXPECT_EQ(v.AsInteger(), 0);
  v.SetFloat(1.0);
  EXPECT_EQ(v.AsInteger(), 0);
  v.SetString("1");
  EXPECT_EQ(v.AsInteger(), 0);
  EXPECT_TRUE(v.AsObject().empty());
  EXPECT_TRUE(v.AsArray().empty());
  EXPECT_FALSE(v.IsArray());
  v.SetInteger(7);
  EXPECT_EQ(v.AsString(), "");
  EXPECT_EQ(v.AsInteger(), 7);

  // A caller's insertions go to its own copy, never into the shared empty map.
  JsonValue::ObjectMap copy = v.AsObject();
  copy["sign"].SetString("x");
  EXPECT_TRUE(JsonValue().AsObject().empty());
}

TEST(JsonValueTest, CopiesAreDeepAndSelfAssignmentIsSafe) {
  JsonValue original;
  original.Parse("[1,[2,3]]");
  JsonValue copy = original;
  copy.Parse("[9] ");  // overwrites the copy's array in place
  EXPECT_EQ(Dump(original), "[1,[2,3]]");
  EXPECT_EQ(Dump(copy), "[9]");

  // Assigning a node from inside its own payload.
  JsonValue nested = original;
  nested = nested.AsArray()[1];
  EXPECT_EQ(Dump(nested), "[2,3]");
  JsonValue moved = original;
  moved = std::move(const_cast<JsonValue&>(moved.AsArray()[1]));
  EXPECT_EQ(Dump(moved), "[2,3]");
}

int ArrayDepth(const JsonValue& v) {
  int depth = 0;
  for (const JsonValue* p = &v; p->IsArray(); ++depth) {
    if (p->AsArray().empty()) return depth + 1;
    p = &p->AsArray()[0];
  }
  return depth;
}

TEST(JsonValueTest, NestingIsLimited) {
  const int limit = JsonValue::kMaxNesting;
  struct DepthCase {
    int levels;
    int expected_depth;
    std::string output;
  };
  const DepthCase cases[] = {
      {limit, limit, ""},
      {limit + 1, limit, "json nesting too deep, skipping value\n"},
      {100000, limit, "json nesting too deep, skipping value\n"},
  };
  for (const DepthCase& c : cases) {
    SCOPED_TRACE(c.levels);
    const Outcome r =
        ParseCaptured(std::string(c.levels, '[') + std::string(c.levels, ']'));
    EXPECT_EQ(ArrayDepth(r.value), c.expected_depth);
    EXPECT_EQ(r.output, c.output);
  }

  // Too-deep containers are passed over whole, whatever brackets and commas
  // their strings hold, and the value after them is read at its place.
  const std::string deep = std::string(limit - 1, '[') + "[[\"],\", [\"\\\"[\"]], {\"]\": \"[\"}, 7]" +
                           std::string(limit - 1, ']');
  const Outcome skipped = ParseCaptured(deep);
  const JsonValue* innermost = &skipped.value;
  while (innermost->IsArray() && !innermost->AsArray().empty() && innermost->AsArray()[0].IsArray())
    innermost = &innermost->AsArray()[0];
  EXPECT_EQ(ArrayDepth(skipped.value), limit);
  EXPECT_EQ(Dump(*innermost), "[7]");
  EXPECT_EQ(skipped.output, "json nesting too deep, skipping value\n"
                            "json nesting too deep, skipping value\n");

  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += "{\"a\":";
  const Outcome r = ParseCaptured(objects);
  EXPECT_EQ(r.value.type(), JsonType::Object);
  EXPECT_EQ(r.output, "json nesting too deep, skipping value\n");
}

}  // namespace
