// Restricts where DLLs load from before anything else runs: the stub usually
// starts from a downloads folder, where a planted DLL must never be loaded.
#pragma once

#include <vector>

void RestrictDllSearchPath();

// The DLLs, not KnownDLLs on every Windows, that the stub and its dialog
// (comctl32 version 6 and theming) pull in by name.
const std::vector<const wchar_t*>& SystemLibrariesLoadedByName();
// Loads each of them that the system folder has, by full path: a later load
// by name then finds it loaded and searches no folder. Those the system
// folder lacks are left alone.
void PreloadSystemLibraries();
