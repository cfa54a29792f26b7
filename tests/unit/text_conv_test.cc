// Conversion rules that hold on both targets (UTF-16 on Windows, UTF-32 on hosts).
#include <gtest/gtest.h>

#include <string>

#include "util/text_conv.h"

namespace {

TEST(TextConv, EmptyInputGivesEmptyOutput) {
  EXPECT_EQ(WideToMultiByte(L""), "");
  EXPECT_EQ(MultiByteToWide(""), L"");
}

TEST(TextConv, CjkStringFitsTheFirstEstimate) {
  const std::wstring cjk(1000, L'\x6F22');  // 3 UTF-8 bytes each
  const std::string utf8 = WideToMultiByte(cjk);
  ASSERT_EQ(utf8.size(), 3000u);
  EXPECT_EQ(utf8.substr(0, 3), "\xE6\xBC\xA2");
  EXPECT_EQ(MultiByteToWide(utf8), cjk);
}

TEST(TextConv, SupplementaryPlaneRoundTrips) {
  const std::string utf8 = "a\xF0\x9F\x98\x80z";  // U+1F600 between two letters
  const std::wstring wide = MultiByteToWide(utf8);
  EXPECT_EQ(WideToMultiByte(wide), utf8);
  // 2 code units on Windows, 1 code point on hosts.
  EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 4u : 3u);
}

TEST(TextConv, EmbeddedNulStopsUnlessWholeLength) {
  const std::wstring wide(L"ab\0cd", 5);
  EXPECT_EQ(WideToMultiByte(wide), "ab");
  EXPECT_EQ(WideToMultiByte(wide, true), std::string("ab\0cd", 5));
  const std::string narrow("xy\0z", 4);
  EXPECT_EQ(MultiByteToWide(narrow), L"xy");
  EXPECT_EQ(MultiByteToWide(narrow, true), std::wstring(L"xy\0z", 4));
}

TEST(TextConv, InvalidUtf8BecomesReplacementCharacters) {
  const std::wstring wide = MultiByteToWide("A\xFF\xC3(B");
  ASSERT_FALSE(wide.empty());
  EXPECT_EQ(wide.front(), L'A');
  EXPECT_EQ(wide.back(), L'B');
  EXPECT_NE(wide.find(L'\xFFFD'), std::wstring::npos);
}

}  // namespace
