// The stub's whole sequence, offline: the checks a real run makes, in the
// order it makes them, with what it writes into its workspace written into a
// folder of ours. `verify` and `unpack` are this with different folders and
// systems. Prints one line per step on standard output.
#pragma once

#include <string>
#include <vector>

#include "tools/qxpack/script_check.h"

struct InstallerCheckPlan {
  std::string installer;
  std::string workspace;  // an existing, empty folder
  std::string goal = "IBND";
  // A key set folder whose public halves the stub must trust; empty: any.
  std::string pinned_keys;
  std::vector<SystemCase> systems;  // a table of selected files for each
  // Write the files selected for systems[0] at their destinations (unpack);
  // otherwise each selected record is only test-extracted (verify).
  bool write_files = false;
};

// Empty when a real run would start the setup program; otherwise the name of
// the first step (in the stub's order) that would stop it.
std::string CheckInstaller(const InstallerCheckPlan& plan);
