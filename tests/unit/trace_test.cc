#include <gtest/gtest.h>

#include <string>

#include "diagnostics/trace.h"
#include "test_support.h"

namespace {

TEST(DebugTrace, SinkReceivesPrefixedLine) {
  std::string got;
  SetTraceSink([](const std::string& line, void* ctx) { *static_cast<std::string*>(ctx) = line; }, &got);
  DebugTrace("value %d and %s\n", 42, "text");
  SetTraceSink(nullptr, nullptr);
  ASSERT_EQ(got.size(), 13u + 18u);
  EXPECT_EQ(got.substr(0, 3), "[T ");
  EXPECT_EQ(got.substr(11, 2), "] ");
  for (int i = 3; i < 11; ++i) EXPECT_TRUE(isxdigit(static_cast<unsigned char>(got[i])) && !isupper(got[i]));
  EXPECT_EQ(got.substr(13), "value 42 and text\n");
}

TEST(DebugTrace, LongMessageIsCutAt4077Characters) {
  TraceCapture capture;
  const std::string big(5000, 'x');
  DebugTrace("%s", big.c_str());
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0], std::string(4077, 'x'));
}

TEST(DebugTrace, PercentInArgumentStaysLiteral) {
  TraceCapture capture;
  DebugTrace("path %s\n", "C:\\100%d\\x");
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0], "path C:\\100%d\\x\n");
}

}  // namespace
