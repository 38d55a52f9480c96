// What one program was built with (README, "Build options"): the catalogue with its stored texts, the
// maker's key and the plain settings. All of it is defined in build_settings.cpp, the one source that
// is compiled for each program with that program's generated build_config.h; every other source is
// compiled once for all programs and reads the build through here.
#pragma once

#include <cstddef>
#include <string>

#include "catalogue/catalogue.h"

namespace zavr {

struct BuildSettings {
    const char* aircraftCode;  // of the product line this program updates
    const char* simFamily;
    const char* makerSite;             // shown to users whose version is out-dated
    int filesInFlight;                 // at least 1
    const unsigned char* caBundlePem;  // the authorities to trust, built in; none keeps the TLS library's own
    std::size_t caBundleBytes;
};
extern const BuildSettings kBuildSettings;

// One aircraft's entry in the catalogue of a simulator family.
struct CatalogueCell {
    const char* aircraft;
    const char* uninstallKey;  // under HKEY_LOCAL_MACHINE
    CatalogueRow rows[2];
    int rowCount;
};

// The catalogue's entries for one simulator family, one per aircraft code.
struct CatalogueColumn {
    const CatalogueCell* cells;
    std::size_t count;
};

// The column of simFamily, or an empty one (count 0) for a family the catalogue does not hold.
CatalogueColumn BuiltInColumn(const std::string& simFamily);

}  // namespace zavr
