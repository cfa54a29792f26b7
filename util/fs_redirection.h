// Switches WOW64 file-system redirection off and back on for the calling
// thread. The functions are looked up on every call, so the program starts on
// systems without them. Disable and Revert must run on the same thread.
#pragma once

struct FsRedirectionGuard {
  static void Disable(void** saved);
  // The platform call's result, or false when no suitable function exists.
  static bool Revert(void* saved);
};
