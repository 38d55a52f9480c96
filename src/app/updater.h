// The object of one run: what the run knows, and each of its steps as a method.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"

namespace zavr {

struct Updater {
    std::string aircraftCode;
    std::string simFamily;
    std::string uninstallKey;  // under HKEY_LOCAL_MACHINE
    std::int32_t installedVersion = 0;
    std::string workFolder;  // the data folder, ending in the separator
    std::vector<CatalogueRow> catalogueRows;

    // Picks the catalogue rows and Uninstall key of aircraftCode and simFamily and logs the banner.
    // Throws std::runtime_error "Unable to initialize application, unknown sim ..." (tested first) or
    // "... unknown aircraft ..." for a code it does not know, before changing anything.
    void SetUpCatalogue();

    // Reads "DisplayVersion" under uninstallKey into installedVersion; 0 when it cannot be read.
    // Never throws.
    void FindInstalledVersion();
};

}  // namespace zavr
