#include <gtest/gtest.h>
#include <windows.h>

#include "util/fs_redirection.h"

namespace {

// Under WOW64 the pair switches redirection off and back on successfully; in
// a native process the platform refuses, and Revert reports that as false.
TEST(FsRedirectionGuardWin, RevertReportsThePlatformResult) {
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  void* saved = nullptr;
  FsRedirectionGuard::Disable(&saved);
  EXPECT_EQ(FsRedirectionGuard::Revert(saved), wow64 != FALSE);
}

}  // namespace
