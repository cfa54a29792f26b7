#include "diagnostics/trace_switch.h"

bool ReadTraceSwitch() { return false; }
