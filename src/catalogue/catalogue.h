// The built-in catalogue: for each simulator family and aircraft code, the Uninstall key of the
// installed product and the rows that say where the update server describes the product line and
// where its files lie. Row texts are stored scrambled (see stored_text.h).
#pragma once

#include <string>
#include <vector>

namespace zavr {

// A pair of references to two stored texts in the program's writable static data. The texts outlive
// every row; each text belongs to exactly one row.
struct CatalogueRow {
    char* infoUrl;   // complete URL of one product-information query
    char* filesUrl;  // base address of that product line's files, ending in "/"
};

// What the catalogue holds for one aircraft code and simulator family.
struct CatalogueSelection {
    std::string uninstallKey;  // under HKEY_LOCAL_MACHINE
    std::vector<CatalogueRow> rows;
};

// Picks the Uninstall key and the catalogue rows of aircraftCode and simFamily, then logs the version
// banner. Throws std::runtime_error "Unable to initialize application, unknown sim ..." (tested first)
// or "... unknown aircraft ..." for a code it does not know, before logging anything.
CatalogueSelection SelectCatalogue(const std::string& aircraftCode, const std::string& simFamily);

// How many rows the catalogue holds for aircraftCode and simFamily; 0 for a code or family it does not
// know. Never fails.
int CatalogueRowCount(const std::string& aircraftCode, const std::string& simFamily);

// The stored (scrambled) bases of the two manifest endpoints, shared by every product. These three are
// defined with the rest of the build's constants (build_settings.h).
char* StoredTotalsBase();
char* StoredFileListBase();
// The maker's Ed25519 public key as 64 hexadecimal digits; empty in a build without one.
char* StoredReleaseKey();

// The updater's own version, shown in the banner after the letter A.
constexpr int kUpdaterVersion = 18;

}  // namespace zavr
