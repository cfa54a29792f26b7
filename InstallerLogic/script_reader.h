// How the installer opens its inner bundle and reads the install script:
// shared by the installation sequence and the packer's offline checks, so
// both accept exactly the same bundles and scripts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class BundleFile;

// Chunks of the inner bundle inflate to at most 25 MiB.
constexpr uint32_t kInnerBundleMaxChunk = 0x1900000;
// Script lines are read into a buffer of this size; longer lines come in pieces.
constexpr size_t kScriptLineCapacity = 2048;

// Sets the goal "IBND" and the chunk limit, then opens and validates `path`.
bool OpenInnerBundle(BundleFile* bundle, const std::wstring& path, const std::string& goal = "IBND");

// The "install_script" record's lines, trimmed. False when there is no such
// record, or when it could not be read to its end (traced): a script cut
// short by a failed read must not install part of the product.
bool ReadInstallScript(BundleFile* bundle, std::vector<std::string>* lines);
