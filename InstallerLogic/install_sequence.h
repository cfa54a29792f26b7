// The installation sequence, run on the worker thread in GUI mode and on the
// main thread in silent mode. Its result never reaches the exit code.
#pragma once

#include <windows.h>

DWORD WINAPI RunInstallSequence(LPVOID parameter);
