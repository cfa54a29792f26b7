// The product description of `qxpack build`: a JSON file naming the stub, the
// setup program, the run type, the key set, the chunk size, an optional A404
// file, an optional Authenticode certificate, and the product files, either
// as an install script plus a folder (record names = relative paths) or as a
// list of {file, record, tag, destination} entries. Relative paths resolve
// against the description's own folder. Unknown keys are errors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/packlib/inner_bundle_files.h"

struct ProductEntry {
  std::string file;  // resolved path
  std::string record;
  std::string tag;
  std::string destination;
};

struct AuthenticodeCredentials {
  std::string certificate;  // PEM or DER certificate, with `key`
  std::string key;          // a file, or a pkcs11: URI of a key in a token
  std::string pkcs12;       // or one PKCS #12 file
  std::string password;
  bool present() const { return !pkcs12.empty() || !certificate.empty(); }
};

struct ProductDescription {
  std::string stub;    // empty: the built product stub
  std::string setup;
  std::string type;    // run-mode text stored as "TYPE"
  std::string keys;    // key set folder
  std::string output;  // empty: beside the description, its name with ".exe"
  std::string a404;    // optional
  uint32_t chunk_size = 1u << 20;
  std::string script;  // form 1: install script file ...
  std::string folder;  // ... and the folder of the records
  std::vector<ProductEntry> files;  // form 2
  AuthenticodeCredentials authenticode;
};

// Parses and resolves; false with an error that names the key and the problem.
bool ReadProductDescription(const std::string& path, ProductDescription* product,
                            std::string* error);

// What goes into the inner bundle: the install script first, then the files.
struct ProductContents {
  std::vector<RecordSource> records;
  uint64_t input_bytes = 0;  // the files' total size, for progress
};

// Gathers the script and records and checks them as the stub will use them:
// every record a script line names exists, every destination stays inside
// the workspace and is not one of the stub's own files, no two lines write
// the same file on one system, names are unique, lines fit the stub's line
// buffer. False with the first problem.
bool GatherProductContents(const ProductDescription& product, ProductContents* contents,
                           std::string* error);
