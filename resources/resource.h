// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDD_PROGRESS 101
#define IDC_PROGRESS_BAR 1000
#define IDI_STUB 1
