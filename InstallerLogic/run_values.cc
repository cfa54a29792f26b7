#include "InstallerLogic/run_values.h"

int argCount = 0;
LPWSTR* argList = nullptr;
std::wstring modulePath;
std::string installType;
HWND dlg = nullptr;
HWND hwndProgress = nullptr;
