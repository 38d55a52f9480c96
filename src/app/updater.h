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

    // Each step below hands the run's fields to one module function, whose header states how it fails;
    // the step keeps what it learns.

    // The catalogue's Uninstall key and rows for aircraftCode and simFamily (SelectCatalogue).
    void SetUpCatalogue();
    // installedVersion from the Uninstall key (ReadInstalledVersion).
    void FindInstalledVersion();
    // One ProductInfo per product of every catalogue row, appended to products (FetchProductInfo).
    void QueryProductInfo();
    // product's totals for an update from version (FetchManifestTotals); the file list is asked for
    // at the same time, for DownloadProductFiles to take.
    void QueryManifestTotals(ProductInfo& product, std::int32_t version);

    // Walks products in order and updates each one that can be. A std::runtime_error from one
    // product's download, install or version record (or its unsafe folder names) is logged as "Update
    // terminated abnormally for ..." and counted as failed; the walk goes on. Lets pass what
    // EnsureDirectory and QueryManifestTotals throw, which ends the walk.
    UpdateCounts UpdateProducts();

    // The product's file list into manifest and every listed file, verified, into tempFolder; large
    // files are built from their copies installed under simFolder where they can be (DownloadFiles).
    void DownloadProductFiles(const ProductInfo& product, std::int32_t version, const std::string& tempFolder,
                              const std::string& simFolder);
    // The files of manifest installed under simFolder, with backups under tempFolder's Backup tree;
    // returns the number installed (InstallFiles). FinishProductInstall ends the update once its new
    // version is recorded (FinishInstall).
    int InstallProductFiles(const ProductInfo& product, std::int32_t version, const std::string& tempFolder,
                            const std::string& simFolder);
    void FinishProductInstall(const ProductInfo& product, const std::string& tempFolder);
};

}  // namespace zavr
