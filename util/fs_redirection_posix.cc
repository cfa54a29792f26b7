#include "util/fs_redirection.h"

// Host builds have no file-system redirection.
void FsRedirectionGuard::Disable(void** /*saved*/) {}
bool FsRedirectionGuard::Revert(void* /*saved*/) { return false; }
