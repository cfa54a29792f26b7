#include "InstallerLogic/module_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

// Stores `path` as GetModuleFileNameW does. When it does not fit, XP fills
// the buffer to its end without a terminator; later systems cut one
// character earlier and terminate. Either answers the capacity. Writes only
// inside the buffer it is given; the sanitizers catch any read past it.
struct FakeReader {
  std::wstring path;
  bool xp;
  std::vector<uint32_t> capacities;

  uint32_t operator()(wchar_t* buffer, uint32_t capacity) {
    capacities.push_back(capacity);
    const bool fits = path.size() < capacity;
    const size_t n = fits ? path.size() : xp ? capacity : capacity - 1;
    std::copy(path.begin(), path.begin() + n, buffer);
    if (n < capacity) buffer[n] = L'\0';
    return fits ? static_cast<uint32_t>(n) : capacity;
  }
};

TEST(ModulePathTest, CutPathIsReadAgainWholeOrNotAtAll) {
  struct Case {
    size_t length;
    bool whole;  // otherwise empty: never a cut path
    std::vector<uint32_t> capacities;
  };
  const Case cases[] = {
      {20, true, {1024}},
      {1023, true, {1024}},
      {1024, true, {1024, 2048}},
      {5000, true, {1024, 2048, 4096, 8192}},
      {32767, true, {1024, 2048, 4096, 8192, 16384, 32768}},
      {32768, false, {1024, 2048, 4096, 8192, 16384, 32768}},
  };
  for (const bool xp : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << (xp ? "XP, " : "later, ") << c.length);
      std::wstring path = L"C:\\";
      path.resize(c.length, L'p');
      FakeReader reader{path, xp, {}};
      EXPECT_EQ(ReadModulePath(std::ref(reader)), c.whole ? path : std::wstring());
      EXPECT_EQ(reader.capacities, c.capacities);
    }
  }
  EXPECT_EQ(ReadModulePath([](wchar_t*, uint32_t) { return 0u; }), L"");
}

}  // namespace
