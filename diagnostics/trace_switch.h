// Reads the trace switch once from the registry (HKLM "Software\Kestrowan",
// value "QXSTR", 64-bit view): true only for REG_SZ text "!Tracelog!" exactly.
// Every failure means off. Host builds have no registry and answer off.
#pragma once

bool ReadTraceSwitch();
