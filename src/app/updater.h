// The object of one run: what the run knows, and each of its steps as a method. The methods are thin:
// the work is done by the modules below (catalogue, server, files), which know nothing of the Updater.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "catalogue/catalogue.h"
#include "server/downloader.h"
#include "server/product_info.h"
#include "server/release_signature.h"

namespace zavr {

// What a run did with its products. Skipped, out-dated and current products are in neither count.
struct UpdateCounts {
    std::int32_t succeeded = 0;
    std::int32_t failed = 0;
};

// The transfer settings the program was built with (see README, "Build options").
TransferLimits BuiltInTransferLimits();

// The maker's public key the program was built with, if any.
std::optional<ReleaseKey> BuiltInReleaseKey();

struct Updater {
    Downloader downloader{BuiltInTransferLimits()};
    // With a key, product documents and file lists are taken only with the maker's signature.
    std::optional<ReleaseKey> releaseKey{BuiltInReleaseKey()};
    std::string aircraftCode;
    std::string simFamily;
    std::string uninstallKey;  // under HKEY_LOCAL_MACHINE
    std::int32_t installedVersion = 0;
    std::string workFolder;  // the data folder, ending in the separator
    std::vector<CatalogueRow> catalogueRows;
    std::vector<ProductInfo> products;  // in the order the server described them
    nlohmann::json manifest;            // the file list of the product being updated

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

    // Walks products in order and updates each one that can be. A std::runtime_error from one
    // product's download, install or version record (or its unsafe folder names) is logged as "Update
    // terminated abnormally for ..." and counted as failed; the walk goes on. Lets pass what
    // EnsureDirectory and QueryManifestTotals throw, which ends the walk.
    UpdateCounts UpdateProducts();

    // Fetches and stores the product's file list in manifest, then brings every listed file, verified,
    // into tempFolder; intact files already there are kept. Throws std::runtime_error: the transfer's
    // errors, "Aborting file download; see error above.", "Aborting file download, a downloaded file has
    // failed integrity-check.", a sentence for a file list that is not JSON or an entry that is
    // malformed or names an unsafe path, and the file-system library's errors.
    void DownloadProductFiles(const ProductInfo& product, std::int32_t version,
                              const std::string& tempFolder);

    // Installs the files of manifest under simFolder, updating product from version, with backups under
    // tempFolder's Backup tree; returns the number installed (see InstallFiles for how, and what it
    // throws). FinishProductInstall ends the update once its new version is recorded.
    int InstallProductFiles(const ProductInfo& product, std::int32_t version, const std::string& tempFolder,
                            const std::string& simFolder);
    void FinishProductInstall(const ProductInfo& product, const std::string& tempFolder);
};

}  // namespace zavr
