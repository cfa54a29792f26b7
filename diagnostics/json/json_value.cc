#include "diagnostics/json/json_value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <variant>

#include "util/text_format.h"

// The variant's alternatives are listed in JsonType order, so a node's type
// number is also the index of its payload alternative.
struct JsonValue::Payload {
  std::variant<std::string, int64_t, double, ObjectMap, ArrayList, bool> v;

  template <JsonType T, typename V>
  static void Put(JsonValue* node, V&& value) {
    constexpr size_t kIndex = static_cast<size_t>(T);
    if (node->type_ == T && node->payload_) {
      std::get<kIndex>(node->payload_->v) = std::forward<V>(value);
      return;
    }
    node->payload_.reset();
    node->type_ = JsonType::Null;
    node->payload_.reset(new Payload{decltype(v)(std::in_place_index<kIndex>, std::forward<V>(value))});
    node->type_ = T;
  }
};

// Every report is one line on standard output. A text of a million bad
// characters makes a million lines, so they are neither flushed nor
// formatted one by one: each line is copied from its fixed parts into one
// buffer, which goes out whenever it is full; the last piece is written and
// flushed when the parse ends, so nothing waits in a buffer afterwards. The
// buffer is only allocated for a parse that has something to say. C stdio,
// not the C++ streams: the product links no iostreams at all.
class JsonValue::Reporter {
 public:
  Reporter() = default;
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;
  ~Reporter() {
    Write();
    std::fflush(stdout);
  }

  template <size_t N>
  void Say(const char (&text)[N]) {
    static_assert(N <= kPiece, "a piece holds a whole line");
    char* p = Room(N);
    p = Put(p, text);
    *p++ = '\n';
    used_ = static_cast<size_t>(p - buffer_.get());
  }
  template <size_t N, size_t M>
  void SayWithChar(const char (&before)[N], int ch, const char (&after)[M]) {
    static_assert(N + M <= kPiece, "a piece holds a whole line");
    char* p = Room(N + M);
    p = Put(p, before);
    *p++ = static_cast<char>(ch);
    p = Put(p, after);
    *p++ = '\n';
    used_ = static_cast<size_t>(p - buffer_.get());
  }

 private:
  static constexpr size_t kPiece = 256 * 1024;

  // Copies a literal without its terminator.
  template <size_t N>
  static char* Put(char* p, const char (&text)[N]) {
    std::memcpy(p, text, N - 1);
    return p + N - 1;
  }
  // Where a line of up to `length` characters goes.
  char* Room(size_t length) {
    if (!buffer_) buffer_.reset(new char[kPiece]);
    if (kPiece - used_ < length) Write();
    return buffer_.get() + used_;
  }
  void Write() {
    if (used_ == 0) return;
    std::fwrite(buffer_.get(), 1, used_, stdout);
    used_ = 0;
  }

  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
};

namespace {

constexpr int kEof = JsonInput::kEnd;

bool IsSpace(int ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; }

int NextNonSpace(JsonInput& in) {
  int ch = in.Get();
  while (IsSpace(ch)) ch = in.Get();
  return ch;
}

// Consumes up to the next ',' (true: another member/element follows) or the
// closing character / end of input (false). Whatever lies between is junk
// left behind a value and is dropped without a report.
bool SkipToSeparator(JsonInput& in, int closing) {
  for (;;) {
    const int ch = in.Get();
    if (ch == ',') return true;
    if (ch == closing || ch == kEof) return false;
  }
}

enum class Literal { kMatched, kMismatch, kEnded };

// Compares the next characters with `rest`; the first differing character is
// consumed.
Literal MatchLiteral(JsonInput& in, const char* rest) {
  for (; *rest != '\0'; ++rest) {
    const int ch = in.Get();
    if (ch == kEof) return Literal::kEnded;
    if (ch != static_cast<unsigned char>(*rest)) return Literal::kMismatch;
  }
  return Literal::kMatched;
}

int HexDigit(int ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

// Surrogate halves arrive one escape at a time and are encoded as they come.
void AppendUtf8(unsigned code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Reads the rest of a string after its opening quote. `out` is set only when
// the closing quote is reached; an unterminated string yields false.
template <typename Reporter>
bool ReadString(JsonInput& in, std::string* out, Reporter& reporter) {
  std::string text;
  for (;;) {
    const int b = in.Get();
    if (b == kEof) return false;
    if (b >= 0x80) {
      text.push_back(static_cast<char>(b));  // UTF-8 passes through unchecked
      continue;
    }
    if (b == '"') {
      *out = std::move(text);
      return true;
    }
    if (b != '\\') {
      text.push_back(static_cast<char>(b));
      continue;
    }
    const int e = in.Get();
    switch (e) {
      case kEof:
        return false;
      case '"':
      case '\\':
      case '/':
        text.push_back(static_cast<char>(e));
        break;
      case 'b': text.push_back('\b'); break;
      case 'f': text.push_back('\f'); break;
      case 'n': text.push_back('\n'); break;
      case 'r': text.push_back('\r'); break;
      case 't': text.push_back('\t'); break;
      case 'u': {
        // Exactly four characters belong to the escape, whatever they are.
        unsigned code = 0;
        bool valid = true;
        for (int i = 0; i < 4; ++i) {
          const int h = in.Get();
          if (h == kEof) return false;
          const int digit = HexDigit(h);
          if (digit < 0) {
            reporter.Say("Invalid \\u character, skipping it.");
            valid = false;
          } else {
            code = code * 16 + static_cast<unsigned>(digit);
          }
        }
        if (valid) AppendUtf8(code, &text);
        break;
      }
      default:
        break;  // unknown escape: backslash and letter both dropped
    }
  }
}

// Passes over the rest of a container whose opening bracket was just read,
// without building anything and without recursion: open brackets go on a
// stack of the closers they expect, strings are read whole so that brackets
// inside them do not count, and a closer that matches nothing open is
// ignored, as the reader ignores one.
template <typename Reporter>
void SkipContainer(JsonInput& in, char closer, Reporter& reporter) {
  std::string expected(1, closer);
  std::string scratch;
  while (!expected.empty()) {
    const int ch = in.Get();
    switch (ch) {
      case kEof:
        return;
      case '"':
        if (!ReadString(in, &scratch, reporter)) return;
        break;
      case '[':
        expected.push_back(']');
        break;
      case '{':
        expected.push_back('}');
        break;
      case ']':
      case '}':
        if (ch == expected.back()) expected.pop_back();
        break;
      default:
        break;
    }
  }
}

// Decimal signed 64-bit; empty, a lone sign or out of range gives 0.
int64_t TextToInteger(const std::string& text) {
  size_t pos = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) pos = 1;
  if (pos == text.size()) return 0;
  const uint64_t limit = negative ? (uint64_t{1} << 63) : (uint64_t{1} << 63) - 1;
  uint64_t magnitude = 0;
  for (; pos < text.size(); ++pos) {
    const uint64_t digit = static_cast<uint64_t>(text[pos] - '0');
    if (magnitude > (limit - digit) / 10) return 0;
    magnitude = magnitude * 10 + digit;
  }
  if (!negative) return static_cast<int64_t>(magnitude);
  // -(2^63) has no positive counterpart; negate in unsigned arithmetic.
  return static_cast<int64_t>(~magnitude + 1);
}

// The text holds only a sign, digits, one '.', one exponent letter and its
// sign; a text that does not convert as a whole (such as "1.5e") or whose
// value is beyond the double range gives 0.
double TextToFloat(const std::string& text) {
  if (text.empty()) return 0.0;
  const char* begin = text.c_str();
  char* end = nullptr;
  const double value = TextToDouble(begin, &end);
  if (end != begin + text.size() || !std::isfinite(value)) return 0.0;
  return value;
}

const JsonValue::ObjectMap& EmptyObject() {
  static const JsonValue::ObjectMap empty;
  return empty;
}

const JsonValue::ArrayList& EmptyArray() {
  static const JsonValue::ArrayList empty;
  return empty;
}

const std::string& EmptyString() {
  static const std::string empty;
  return empty;
}

}  // namespace

JsonValue::JsonValue() : type_(JsonType::Null) {}

JsonValue::~JsonValue() = default;

JsonValue::JsonValue(const JsonValue& other)
    : type_(other.type_),
      payload_(other.payload_ ? new Payload(*other.payload_) : nullptr) {}

JsonValue::JsonValue(JsonValue&& other) noexcept
    : type_(other.type_), payload_(std::move(other.payload_)) {
  other.type_ = JsonType::Null;
}

JsonValue& JsonValue::operator=(const JsonValue& other) {
  if (this != &other) {
    JsonValue copy(other);  // other may live inside this node's payload
    *this = std::move(copy);
  }
  return *this;
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
  if (this != &other) {
    // Detach first: `other` may be a member of the payload about to be freed.
    const JsonType type = other.type_;
    std::unique_ptr<Payload> payload = std::move(other.payload_);
    other.type_ = JsonType::Null;
    type_ = type;
    payload_.swap(payload);
  }
  return *this;
}

void JsonValue::Parse(const std::string& text) {
  JsonTextInput in(text);
  ParseStream(in);
}

void JsonValue::ParseStream(JsonInput& in) {
  Reporter reporter;
  ParseAt(in, 0, reporter);
}

void JsonValue::SetString(std::string value) {
  Payload::Put<JsonType::String>(this, std::move(value));
}
void JsonValue::SetInteger(int64_t value) { Payload::Put<JsonType::Integer>(this, value); }
void JsonValue::SetFloat(double value) { Payload::Put<JsonType::Float>(this, value); }
void JsonValue::SetBoolean(bool value) { Payload::Put<JsonType::Boolean>(this, value); }
void JsonValue::SetObject(ObjectMap value) {
  Payload::Put<JsonType::Object>(this, std::move(value));
}
void JsonValue::SetArray(ArrayList value) {
  Payload::Put<JsonType::Array>(this, std::move(value));
}

void JsonValue::SetNull() {
  payload_.reset();
  type_ = JsonType::Null;
}

const JsonValue::ObjectMap& JsonValue::AsObject() const {
  return type_ == JsonType::Object ? std::get<ObjectMap>(payload_->v) : EmptyObject();
}

const JsonValue::ArrayList& JsonValue::AsArray() const {
  return type_ == JsonType::Array ? std::get<ArrayList>(payload_->v) : EmptyArray();
}

int64_t JsonValue::AsInteger() const {
  return type_ == JsonType::Integer ? std::get<int64_t>(payload_->v) : 0;
}

double JsonValue::AsFloat() const {
  return type_ == JsonType::Float ? std::get<double>(payload_->v) : 0.0;
}

bool JsonValue::AsBoolean() const {
  return type_ == JsonType::Boolean ? std::get<bool>(payload_->v) : false;
}

const std::string& JsonValue::AsString() const {
  return type_ == JsonType::String ? std::get<std::string>(payload_->v) : EmptyString();
}

// Kept small on purpose: it recurses once per nesting level, so the string
// and number work lives in helpers that are not on the recursive path.
void JsonValue::ParseAt(JsonInput& in, int depth, Reporter& reporter) {
  // Two zero-free bytes must open every value; this turns away UTF-16 and
  // UTF-32 text before anything is read from it.
  const int first = in.Get();
  if (first == kEof) return;
  const int second = in.Peek();
  in.Unget();
  if (first == 0 || second == 0) {
    reporter.Say("File is not in UTF-8, not parsing.");
    return;
  }
  if (second == kEof) return;

  for (;;) {
    const int ch = in.Get();
    switch (ch) {
      case kEof:
        return;
      case '"': {
        SetString(std::string());
        std::string text;
        if (ReadString(in, &text, reporter)) SetString(std::move(text));
        return;
      }
      case '{':
      case '[':
        if (depth >= kMaxNesting) {
          reporter.Say("json nesting too deep, skipping value");
          SkipContainer(in, ch == '{' ? '}' : ']', reporter);
        } else if (ch == '{') {
          SetObject();
          ReadObjectMembers(in, depth, reporter);
        } else {
          SetArray();
          ReadArrayElements(in, depth, reporter);
        }
        return;
      case 'n':
        switch (MatchLiteral(in, "ull")) {
          case Literal::kMatched:
            SetNull();
            return;
          case Literal::kEnded:
            reporter.Say("json input ends incorrectly");
            return;
          case Literal::kMismatch:
            reporter.Say("invalid characters found");
            break;
        }
        break;
      case 't':
        // A broken true/false is dropped silently, unlike null.
        if (MatchLiteral(in, "rue") == Literal::kMatched) {
          SetBoolean(true);
          return;
        }
        break;
      case 'f':
        if (MatchLiteral(in, "alse") == Literal::kMatched) {
          SetBoolean(false);
          return;
        }
        break;
      case '-':
      case '0': case '1': case '2': case '3': case '4':
      case '5': case '6': case '7': case '8': case '9':
        in.Unget();
        ReadNumber(in, reporter);
        return;
      case ' ':
      case '\t':
      case '\n':
      case '\r':
        break;
      default:
        reporter.SayWithChar("Invalid character found: '", ch, "'");
        break;
    }
  }
}

void JsonValue::ReadObjectMembers(JsonInput& in, int depth, Reporter& reporter) {
  ObjectMap& members = std::get<ObjectMap>(payload_->v);
  for (;;) {
    int ch = NextNonSpace(in);
    if (ch == kEof || ch == '}') return;
    if (ch != '"') {
      reporter.SayWithChar("Expected '\"', got '", ch, "', ignoring it.");
      continue;
    }
    std::string key;
    if (!ReadString(in, &key, reporter)) return;  // input ended inside the key
    ch = NextNonSpace(in);
    if (ch == kEof) return;
    if (ch != ':') continue;  // no colon: the key is dropped
    ch = NextNonSpace(in);
    if (ch != kEof) in.Unget();
    // A repeated key reads into the existing member, so the last one wins.
    members[key].ParseAt(in, depth + 1, reporter);
    if (!SkipToSeparator(in, '}')) return;
  }
}

void JsonValue::ReadArrayElements(JsonInput& in, int depth, Reporter& reporter) {
  ArrayList& elements = std::get<ArrayList>(payload_->v);
  for (;;) {
    const int ch = NextNonSpace(in);
    if (ch == kEof || ch == ']') return;
    in.Unget();
    elements.emplace_back();
    JsonValue& element = elements.back();
    element.type_ = JsonType::None;
    element.ParseAt(in, depth + 1, reporter);
    if (element.type_ == JsonType::None) elements.pop_back();
    if (!SkipToSeparator(in, ']')) return;
  }
}

void JsonValue::ReadNumber(JsonInput& in, Reporter& reporter) {
  std::string text;
  bool fraction = false;
  bool exponent = false;
  const int first = in.Get();
  if (first == '0' && in.Peek() == '0') {
    // Leading zeros: the number ends after the first one, as 0.
  } else {
    in.Unget();
    for (;;) {
      const int ch = in.Get();
      if (ch == kEof) break;
      if (ch == '-') {
        if (text.empty()) {
          text.push_back('-');
        } else {
          reporter.SayWithChar("Expected a digit, '.', 'e' or 'E', got '", ch,
                      "' instead, ignoring it.");
        }
      } else if (ch >= '0' && ch <= '9') {
        text.push_back(static_cast<char>(ch));
      } else if (ch == '.') {
        if (!fraction && !exponent) {
          text.push_back('.');
          fraction = true;
        }
      } else if (ch == 'e' || ch == 'E') {
        if (!exponent) {
          text.push_back(static_cast<char>(ch));
          exponent = true;
          const int sign = in.Peek();
          if (sign == '+' || sign == '-') text.push_back(static_cast<char>(in.Get()));
        }
      } else {
        in.Unget();
        break;
      }
    }
  }
  if (fraction || exponent) {
    SetFloat(TextToFloat(text));
  } else {
    SetInteger(TextToInteger(text));
  }
}
