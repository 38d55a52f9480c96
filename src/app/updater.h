// The object of one run: what the run knows, and each of its steps as a method.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "server/downloader.h"
#include "server/product_info.h"

namespace zavr {

struct Updater {
    Downloader downloader;
    std::string aircraftCode;
    std::string simFamily;
    std::string uninstallKey;  // under HKEY_LOCAL_MACHINE
    std::int32_t installedVersion = 0;
    std::string workFolder;  // the data folder, ending in the separator
    std::vector<CatalogueRow> catalogueRows;
    std::vector<ProductInfo> products;  // in the order the server described them

    // Picks the catalogue rows and Uninstall key of aircraftCode and simFamily and logs the banner.
    // Throws std::runtime_error "Unable to initialize application, unknown sim ..." (tested first) or
    // "... unknown aircraft ..." for a code it does not know, before changing anything.
    void SetUpCatalogue();

    // Reads "DisplayVersion" under uninstallKey into installedVersion; 0 when it cannot be read.
    // Never throws.
    void FindInstalledVersion();

    // Fetches the product-information reply of every catalogue row and appends one ProductInfo per
    // product. Throws what FetchText throws, and the JSON library's parse and type errors for a reply
    // that is not one JSON value or a product that lacks a key or holds a mistyped value; the records
    // appended before the error stay.
    void QueryProductInfo();

    // Sets product.TotalFiles and product.TotalFileSize from the totals endpoint for the installed
    // version. A missing or mistyped "TotalFileSize" counts as 0. Throws what FetchText throws, and the
    // JSON library's errors for any other unexpected reply; the record then keeps its totals.
    void QueryManifestTotals(ProductInfo& product, std::int32_t version);
};

}  // namespace zavr
