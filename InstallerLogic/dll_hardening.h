// Restricts where DLLs load from before anything else runs: the stub usually
// starts from a downloads folder, where a planted DLL must never be loaded.
#pragma once

void RestrictDllSearchPath();
