// Process-wide run values. Written on the main thread before the installation
// sequence starts and only read afterwards (hwndProgress is set while the
// dialog is created, also before the worker starts).
#pragma once

#include <windows.h>

#include <string>

extern int argCount;
extern LPWSTR* argList;        // the stub's arguments, split as CommandLineToArgvW does
extern std::wstring modulePath;
extern std::string installType;
extern HWND dlg;
extern HWND hwndProgress;
