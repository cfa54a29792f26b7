// The install script as the stub will apply it, for the packer's checks: the
// lines as the stub's reader cuts them, and per system the files selected with
// everything that would stop or spoil a real run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "InstallerLogic/install_script.h"
#include "InstallerLogic/script_reader.h"


struct SystemCase {
  bool windows64;
  uint32_t major_version;
  const char* label;
};
// 32- and 64-bit Windows, each before and from version 6.
extern const SystemCase kSystemCases[4];

// The trimmed lines the stub's reader makes of `text`.
std::vector<std::string> ScriptLinesOf(const std::string& text);

struct SelectedFile {
  size_t line;  // 1-based
  std::string record;
  std::string destination;
};

struct Selection {
  std::vector<SelectedFile> files;
  std::vector<std::string> problems;  // each stops the run
  std::vector<std::string> warnings;  // the run goes on with a spoiled workspace
  std::vector<std::string> notes;     // lines the stub skips
};

// Applies the stub's rules to every line for one system. Problems: a record
// that does not exist, a destination leaving the workspace, or replacing
// setup.exe or ibnd (the setup program then fails its check; the open bundle
// cannot be written). Warnings: a destination replacing qxav_404.dat or
// written by an earlier line too.
Selection SelectFiles(const std::vector<std::string>& lines, const ScriptConditions& conditions,
                      const std::function<bool(const std::string&)>& record_exists);
