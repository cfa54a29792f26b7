// The setup program's command line, round trip: arguments taken from the
// input (16-bit code units, split at 0, as the platform hands them over) are
// built into a command line and split again with the platform's rules; the
// setup program must get back exactly the stub's arguments, between its own
// path and the stub's.
#include <cstdint>
#include <string>
#include <vector>

#include "InstallerLogic/command_line.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> arguments(1);
  for (size_t i = 0; i + 1 < size; i += 2) {
    const wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0) {
      arguments.emplace_back();
    } else {
      arguments.back() += unit;
    }
  }
  if (size < 2) arguments.clear();
  const std::wstring setup = L"C:\\Users\\A B\\AppData\\Local\\Temp\\ITMPD_1a2b\\setup.exe";
  const std::wstring module = L"D:\\Downloads\\Norvane Setup (2).exe";
  const std::wstring line = BuildSetupCommandLine(setup, arguments, module);

  std::vector<std::wstring> expected = {setup};
  expected.insert(expected.end(), arguments.begin(), arguments.end());
  expected.push_back(module);
  FUZZ_CHECK(SplitCommandLine(line) == expected);
  return 0;
}
