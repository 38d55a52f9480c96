// The release doctor: a release tree (see release.h) checked the way the updater will read it, before it
// is exported or served, so that a maker's mistake stops at the maker and never reaches a user.
#pragma once

#include <string>
#include <vector>

namespace zavr::devserver {

// One line of the doctor's report, naming the file and what to change.
struct Finding {
    bool problem;  // stops an export; otherwise a warning
    std::string text;
};

// Every finding on the tree at root, problems and warnings in the order met. Problems: a product
// document that does not parse, lacks a field, holds one of the wrong type or range, has a PVDec that
// would not read back as its ProdVersion, a MinVersion above its ProdVersion, or no
// releases/<ProductID>/<ProdVersion>/ folder; a JSON file under products/ other than
// products/<sim>/<aircraft>/<row>.json of the catalogue; one ProductID in two places; a release file
// that is not a regular file (a link, a FIFO) or whose path the updater refuses; two release paths of a
// product that Windows would take for one file. Warnings: a version folder above its product's
// ProdVersion, a release folder of no product, a file of more than 1 GiB. Never throws: what cannot be
// read is a problem.
std::vector<Finding> CheckRelease(const std::string& root);

// Whether any finding is a problem.
bool AnyProblem(const std::vector<Finding>& findings);

}  // namespace zavr::devserver
