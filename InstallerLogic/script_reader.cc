#include "InstallerLogic/script_reader.h"

#include "InstallerLogic/install_script.h"
#include "bundle/bundle_file.h"
#include "diagnostics/trace.h"

bool OpenInnerBundle(BundleFile* bundle, const std::wstring& path, const std::string& goal) {
  bundle->SetExpectedGoal(goal);
  bundle->SetMaxChunkSize(kInnerBundleMaxChunk);
  return bundle->Open(path, false);
}

bool ReadInstallScript(BundleFile* bundle, std::vector<std::string>* lines) {
  RecordHandle* script = bundle->FindRecord("install_script");
  if (!script) return false;
  std::vector<char> buffer(kScriptLineCapacity);
  while (bundle->ReadLine(buffer.data(), buffer.size(), script))
    lines->push_back(TrimScriptLine(buffer.data()));
  // ReadLine answers nothing on a failed read as at the end.
  const bool whole = script->position() == script->size();
  bundle->CloseRecord(script);
  if (!whole) DebugTrace("[INSTALLER] install_script could not be read to its end\n");
  return whole;
}
