// The stub `build` uses when the product description names none.
#pragma once

#include <string>

// The stub installed beside this qxpack (../share/qxpack/Stub.exe from the
// folder of its executable, as the Debian package lays it out, wherever that
// was extracted to); else the one of the Windows build in the source tree.
std::string DefaultStubPath();
