// A release tree written out as static files, for an ordinary web server to serve:
//
//   <out>/products/<sim>/<aircraft>/<row>.json     the product documents
//   <out>/files/<sim>/<aircraft>/<row>/<path>      the current copy of every file of the row
//   <out>/totals/<ProductID>/<v>.json               the totals reply for installed version v
//   <out>/filelist/<ProductID>/<v>.json             the file-list reply for installed version v
//   <out>/zavr-locations.conf                       nginx locations that answer the queries from them
//
// for every v from the product's MinVersion up to below its ProdVersion. With a signing key, each
// product document and file-list reply has its signature beside it (<name>.json.sig), which the
// locations serve at the reply's address with ".sig" added to the path.
#pragma once

#include <string>
#include <vector>

#include "release.h"
#include "signing.h"

namespace zavr::devserver {

// The most installed versions one product may have replies written for.
constexpr std::int64_t kMaxExportedVersions = 100000;

// Writes the tree (see above) into out, created if missing; files already there are replaced.
// Returns the number of files written. Throws std::runtime_error with a sentence, before anything is
// written, when the release doctor finds a problem (see doctor.h) or out's path holds a character that
// nginx would read as its own (a $, a control character); and when the release cannot be read, a product
// spans more than kMaxExportedVersions versions, or out cannot be written. The doctor's warnings, which
// do not stop an export, are appended to warnings when given.
std::size_t ExportRelease(Release& release, const std::string& out, const SigningKey* key = nullptr,
                          std::vector<std::string>* warnings = nullptr);

// The nginx locations (for a server block's include) that serve the tree at root.
std::string NginxLocations(const std::string& root);

}  // namespace zavr::devserver
