// UTF-16 details that only the Windows target can show.
#include <gtest/gtest.h>

#include <string>

#include "util/text_conv.h"

namespace {

TEST(TextConvWin, SurrogatePairsEncodeAsFourBytes) {
  std::wstring pairs;
  for (int i = 0; i < 500; ++i) pairs += L"\xD83D\xDE00";  // U+1F600
  const std::string utf8 = WideToMultiByte(pairs);
  EXPECT_EQ(utf8.size(), 2000u);
  EXPECT_EQ(utf8.substr(0, 4), "\xF0\x9F\x98\x80");
}

TEST(TextConvWin, LoneSurrogateIsReplacedNotDropped) {
  const std::string utf8 = WideToMultiByte(std::wstring(L"a\xD800z"));
  EXPECT_EQ(utf8.front(), 'a');
  EXPECT_EQ(utf8.back(), 'z');
  EXPECT_GT(utf8.size(), 2u);
}

}  // namespace
