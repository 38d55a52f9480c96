// Publishing a release for a web server with no moment in which it serves part of one release and part
// of another:
//
//   <out>/trees/<time stamp>/       one complete export (see export.h) per publication
//   <out>/live -> trees/<stamp>     what the web server serves; a new link is renamed over it in one step
//   <out>/previous -> trees/<stamp> the tree that was live before, kept for a switch back
//   <out>/zavr-locations.conf       nginx locations whose root is <out>/live
//
// Trees that neither link names are removed once a new one is live, so files of versions no longer
// offered leave the server with the publication after the one that stopped offering them.
#pragma once

#include <string>
#include <vector>

#include "release.h"
#include "signing.h"

namespace zavr::devserver {

struct Publication {
    std::string tree;                   // the new live tree
    std::size_t files;                  // the files written into it
    std::vector<std::string> warnings;  // the release doctor's, which did not stop it
};

// Exports release into a new tree under out (created if missing) and makes it live. Throws
// std::runtime_error with a sentence, with live unchanged and the new tree removed, when the export
// fails (see ExportRelease) or the links cannot be made; and when out/live exists and is not a link.
Publication PublishRelease(Release& release, const std::string& out, const SigningKey* key = nullptr);

// Makes the previous tree live again, and the tree that was live the previous one; returns the tree now
// live. Throws std::runtime_error with a sentence when out has no previous tree.
std::string SwitchBack(const std::string& out);

}  // namespace zavr::devserver
