#include "tools/qxpack/installer_check.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "bundle/attachment.h"
#include "bundle/attachment_chain.h"
#include "bundle/bundle_file.h"
#include "bundle/pe_layout.h"
#include "integrity/builtin_keys.h"
#include "integrity/file_signature.h"
#include "tools/packlib/pe_bundle_section.h"
#include "tools/qxpack/commands.h"
#include "tools/qxpack/progress_line.h"
#include "tools/qxpack/stub_keys.h"
#include "tools/qxpack/trace_capture.h"
#include "util/platform.h"
#include "util/text_conv.h"

namespace fs = std::filesystem;

namespace {

class StepLog {
 public:
  void Ok(const std::string& step, const std::string& detail) { Line("ok", step, detail); }
  void Info(const std::string& step, const std::string& detail) { Line("info", step, detail); }
  void Note(const std::string& detail) { std::printf("       %s\n", detail.c_str()); }
  void Skip(const std::string& step) { Line("skip", step, "an earlier step failed"); }
  // Returns false so callers can `return log.Fail(...)`.
  bool Fail(const std::string& step, const std::string& reason) {
    Line("FAIL", step, reason);
    if (first_failure_.empty()) first_failure_ = step;
    return false;
  }
  const std::string& first_failure() const { return first_failure_; }

 private:
  void Line(const char* verdict, const std::string& step, const std::string& detail) {
    ProgressEnd();
    std::printf("[%-4s] %s: %s\n", verdict, step.c_str(), detail.c_str());
    std::fflush(stdout);
  }
  std::string first_failure_;
};

std::string Join(const std::string& dir, const std::string& name) {
  return (fs::path(dir) / name).string();
}

// The attachment `type` of the chain ending at `end`, or size 0 when absent.
uint64_t AttachmentSize(const std::string& container, int64_t end, const std::string& type) {
  File file;
  if (!file.Open(MultiByteToWide(container), FileAccess::kRead)) return 0;
  if (end < 0) end = GetLastSectionEnd(file);
  for (const AttachmentInfo& a : ListAttachments(file, end))
    if (a.type == type) return a.size;
  return 0;
}

// The stub checks everything with the keys of its own key block, so this
// check does too: it takes them from the installer and trusts them from now
// on. With `pinned` they must be that key set's. False when there are none.
bool TrustStubKeys(StepLog& log, const std::string& installer, const std::string& pinned) {
  std::vector<uint8_t> block;
  PublicKeyHalves halves, expected;
  std::string error;
  bool marked = false;
  if (!ReadStubKeyBlock(installer, &block, &halves, &marked, &error)) {
    log.Fail("trusted keys", error);
    return false;
  }
  if (!UseKeyBlock(block.data(), block.size())) return log.Fail("trusted keys", "damaged key block");
  if (pinned.empty()) {
    log.Info("trusted keys", "the stub's key block");
  } else if (!LoadPublicKeyHalves(MultiByteToWide(pinned), &expected, &error)) {
    log.Fail("trusted keys", error);
  } else {
    const std::vector<std::string> differ = DifferingHalves(expected, halves);
    if (differ.empty()) {
      log.Ok("trusted keys", "the stub's key block holds the key set " + pinned);
    } else {
      log.Fail("trusted keys", "the stub trusts another " + JoinNames(differ) + " than the key set " +
                                   pinned + " holds");
    }
  }
  for (const std::string& line : Fingerprints(halves)) log.Note(line);
  return true;
}

bool Extract(StepLog& log, const std::string& step, double scale, int32_t base,
             const AttachmentRequest& request, uint64_t size, const std::string& what) {
  TraceCapture trace;
  ProgressBegin("extracting " + step, size, scale);
  const bool ok = ExtractAttachment(scale, base, request);
  ProgressEnd();
  if (!ok) return log.Fail(step, "cannot extract " + what + ": " + trace.text());
  log.Ok(step, what + " extracted, " + std::to_string(size) + " bytes, digest matches");
  return true;
}

std::string SignatureVerdict(const std::string& path, std::string* reason) {
  TraceCapture trace;
  const std::wstring wide = MultiByteToWide(path);
  if (!VerifyFileSignature(wide, false)) {
    *reason = trace.text().empty() ? "no signature record" : trace.text();
    return "";
  }
  return VerifyFileSignatureAttempt(wide, false) ? "valid (whole-prefix attempt)"
                                                 : "valid (header-range attempt)";
}

// A destination of the script as a path below `workspace` on this system.
std::string HostPath(const std::string& workspace, std::string destination) {
  for (char& c : destination)
    if (c == '\\') c = '/';
  return Join(workspace, destination);
}

}  // namespace

std::string CheckInstaller(const InstallerCheckPlan& plan) {
  StepLog log;
  const std::string& installer = plan.installer;
  const std::wstring wideInstaller = MultiByteToWide(installer);
  const std::string setup = Join(plan.workspace, "setup.exe");
  const std::string ibnd = Join(plan.workspace, "ibnd");

  // TYPE: the stub ends with exit code 1 before anything else without it.
  std::string type;
  {
    TraceCapture quiet;
    type = ReadAttachment(wideInstaller, "TYPE");
  }
  const bool haveType = !type.empty();
  type = TrimRunType(type);
  if (!haveType) {
    log.Fail("type", "no TYPE attachment in the bundle section (the stub exits with code 1)");
  } else {
    log.Ok("type", "\"" + type + "\" (" + (type == "gui" ? "GUI mode" : "silent mode") + ")");
  }

  // The installer's own signature, with the keys its stub's block holds.
  if (!TrustStubKeys(log, installer, plan.pinned_keys)) {
    log.Fail("installer signature", "no keys to check it with (the stub exits with code 2)");
    for (const char* s : {"LOAD", "IBND", "inner bundle", "install script", "setup signature"})
      log.Skip(s);
    return log.first_failure();
  }
  std::string reason;
  const std::string verdict = SignatureVerdict(installer, &reason);
  if (verdict.empty()) {
    log.Fail("installer signature", reason + " (the stub exits with code 2)");
  } else {
    log.Ok("installer signature", verdict);
  }
  File file;
  PeFacts facts;
  std::vector<uint8_t> head(4096);
  if (file.Open(wideInstaller, FileAccess::kRead)) head.resize(file.Read(head.data(), head.size()));
  file.Close();
  const bool authenticode = ReadPeFacts(head, &facts, nullptr) && facts.certificateSize != 0;
  log.Info("Authenticode", authenticode ? "signature present (" +
                                              std::to_string(facts.certificateSize) + " bytes)"
                                        : "none");

  // LOAD, IBND and A404 into the workspace.
  if (!Extract(log, "LOAD", 50, 0, {true, wideInstaller, "LOAD", MultiByteToWide(setup)},
               AttachmentSize(installer, -1, "LOAD"), "setup program")) {
    for (const char* s : {"IBND", "inner bundle", "install script", "setup signature"}) log.Skip(s);
    return log.first_failure();
  }
  File setupFile;
  const int64_t setupSize =
      setupFile.Open(MultiByteToWide(setup), FileAccess::kRead) ? setupFile.Size() : -1;
  setupFile.Close();
  const bool haveBundle =
      Extract(log, "IBND", 25, 50, {false, MultiByteToWide(setup), "IBND", MultiByteToWide(ibnd)},
              AttachmentSize(setup, setupSize, "IBND"), "inner bundle");
  SetModulePath(wideInstaller);
  {
    TraceCapture quiet;
    if (!FindAttachment("A404")) {
      log.Info("A404", "none");
    } else if (ExtractAppendedAttachment("A404", MultiByteToWide(Join(plan.workspace, "qxav_404.dat")))) {
      log.Info("A404", "extracted to qxav_404.dat");
    } else {
      log.Info("A404", "present but damaged; the stub goes on without it");
    }
  }

  BundleFile bundle;
  std::vector<std::string> lines;
  bool haveScript = false;
  if (!haveBundle) {
    log.Skip("inner bundle");
  } else if (!OpenValidated(&bundle, ibnd, plan.goal, &reason)) {
    log.Fail("inner bundle", "refused: " + reason);
  } else {
    log.Ok("inner bundle", "certificate for " + plan.goal + ", signature valid, " +
                               std::to_string(bundle.records().size()) + " records");
    haveScript = ReadInstallScript(&bundle, &lines);
  }
  if (bundle.is_open() && !haveScript) {
    log.Fail("install script", "the inner bundle has no install_script record");
  } else if (haveScript) {
    log.Ok("install script", std::to_string(lines.size()) + " lines");
  } else {
    log.Skip("install script");
  }

  // Per system: which files the stub extracts, and whether it can.
  std::map<std::string, uint64_t> sizes;
  for (const RecordIndexEntry& r : bundle.records()) sizes.emplace(r.name, r.plain_size);
  std::set<std::string> wanted;
  for (size_t s = 0; haveScript && haveType && s < plan.systems.size(); ++s) {
    const SystemCase& system = plan.systems[s];
    const std::string step = std::string("files for ") + system.label;
    const Selection sel = SelectFiles(lines, {system.windows64, system.major_version, type},
                                      [&](const std::string& r) { return sizes.count(r) > 0; });
    if (sel.problems.empty()) {
      log.Ok(step, std::to_string(sel.files.size()) + " selected");
    } else {
      log.Fail(step, sel.problems[0]);
      for (size_t i = 1; i < sel.problems.size(); ++i) log.Note(sel.problems[i]);
    }
    for (const std::string& w : sel.warnings) log.Note("warning: " + w);
    for (const std::string& n : sel.notes) log.Note(n);
    for (const SelectedFile& f : sel.files) {
      char row[64];
      std::snprintf(row, sizeof row, "%12llu", static_cast<unsigned long long>(sizes[f.record]));
      log.Note(std::string(row) + "  " + f.destination + "  <- " + f.record);
      wanted.insert(f.record);
      if (plan.write_files && s == 0 && sel.problems.empty()) {
        const std::string target = HostPath(plan.workspace, f.destination);
        std::error_code ec;
        fs::create_directories(fs::path(target).parent_path(), ec);
        if (!bundle.ExtractRecord(MultiByteToWide(target), f.record))
          log.Fail(step, "cannot extract record \"" + f.record + "\" to " + f.destination);
      }
    }
  }
  // Every record a system selects must inflate, or the stub stops there.
  if (!plan.write_files && !wanted.empty()) {
    const std::string probe = Join(plan.workspace, "record.probe");
    std::string broken;
    for (const std::string& name : wanted) {
      if (!bundle.ExtractRecord(MultiByteToWide(probe), name) && broken.empty()) broken = name;
      RemoveFile(MultiByteToWide(probe));
    }
    if (broken.empty()) {
      log.Ok("record data", std::to_string(wanted.size()) + " selected records inflate");
    } else {
      log.Fail("record data", "record \"" + broken + "\" does not inflate");
    }
  }
  bundle.Close();

  // Last, as in the stub: the extracted setup program's own signature.
  const std::string setupVerdict = SignatureVerdict(setup, &reason);
  if (setupVerdict.empty()) {
    log.Fail("setup signature", reason + " (\"Installer file is corrupted.\")");
  } else {
    log.Ok("setup signature", setupVerdict);
  }
  return log.first_failure();
}
