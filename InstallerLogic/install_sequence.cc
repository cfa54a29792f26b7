#include "InstallerLogic/install_sequence.h"

#include "diagnostics/trace.h"

DWORD WINAPI RunInstallSequence(LPVOID) {
  // The extraction and hand-over to the setup program arrive with the
  // installation sequence; until then the run ends here.
  DebugTrace("[INSTALLER] Installation sequence not available in this build\n");
  return 1;
}
