// Rotation of the log file: QxDBG.log becomes QxDBG-1.log, QxDBG-1.log
// becomes QxDBG-2.log and so on, the oldest backup is deleted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LogPathParts {
  std::wstring stem;
  std::wstring extension;  // with its dot; may be empty
};

// The extension starts at the last dot unless a backslash, slash or blank
// follows that dot; otherwise the whole path is the stem.
LogPathParts SplitLogPath(const std::wstring& path);

// stem + "-" + number + extension
std::wstring BackupName(const LogPathParts& parts, int32_t number);

// One step of a rotation: rename `from` to `to`, replacing it; an empty `to`
// means delete `from`.
struct RotationStep {
  std::wstring from;
  std::wstring to;
};

// Delete backup N, rename backup n to n + 1 for n = N - 1 down to 1, rename
// the file to backup 1 (N = maxBackups, at least 0).
std::vector<RotationStep> RotationSteps(const std::wstring& path, int32_t maxBackups);

// Carries out the steps, ignoring failures. A step that would touch a name
// holding a reparse point is skipped: a link planted there must not make the
// elevated process rename or delete something else. The folder is the
// caller's to hold (HeldFolders).
void RotateLogFiles(const std::wstring& path, int32_t maxBackups);

// Appends `bytes` to the log file and rotates it once it is larger than
// `maxFileSize`. The elevated writer may be given a folder that its user can
// change: every folder on the way is held while the file is written and
// rotated, and none may be a link; neither may the file, nor have a second
// name (a hard link). False: nothing written.
bool AppendLogBatch(const std::wstring& path, const std::string& bytes, uint32_t maxFileSize,
                    int32_t maxBackups);
