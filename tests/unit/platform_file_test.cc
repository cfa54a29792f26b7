#include <gtest/gtest.h>

#include "test_support.h"
#include "util/platform.h"

// Creating for writing makes a missing file and replaces an existing one
// whole: a longer old file leaves none of its bytes behind.
TEST(PlatformFileTest, CreateMakesNewFilesAndReplacesExistingOnes) {
  TempDir dir;
  const std::wstring path = dir.File(L"out.bin");
  for (const Bytes& content : {Bytes{1, 2, 3, 4, 5, 6}, Bytes{9, 8}}) {
    File file;
    ASSERT_TRUE(file.Open(path, FileAccess::kCreate));
    ASSERT_TRUE(file.Write(content.data(), content.size()));
    file.Close();
    Bytes back;
    ASSERT_TRUE(ReadWholeFile(path, &back));
    EXPECT_EQ(back, content);
  }
}
