// The progress dialog's procedure and the progress sink.
#pragma once

#include <windows.h>

#include "bundle/progress_sink.h"

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
