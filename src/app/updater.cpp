// The steps of a run as methods of the Updater: each hands the run's fields to the module that does
// the work and keeps what it learns.
#include "app/updater.h"

#include "catalogue/build_settings.h"
#include "catalogue/catalogue.h"
#include "catalogue/installed_version.h"
#include "catalogue/stored_text.h"
#include "files/download_phase.h"
#include "files/install_phase.h"
#include "server/manifest.h"

namespace zavr {

TransferLimits BuiltInTransferLimits() {
    TransferLimits limits;
    limits.filesInFlight = kBuildSettings.filesInFlight;
    limits.caBundlePem.assign(reinterpret_cast<const char*>(kBuildSettings.caBundlePem),
                              kBuildSettings.caBundleBytes);
    return limits;
}

std::optional<ReleaseKey> BuiltInReleaseKey() {
    const UnscrambledText key(StoredReleaseKey());
    return ReadReleaseKey(key.Copy());
}

void Updater::SetUpCatalogue() {
    CatalogueSelection selection = SelectCatalogue(aircraftCode, simFamily);
    uninstallKey = std::move(selection.uninstallKey);
    catalogueRows = std::move(selection.rows);
}

void Updater::FindInstalledVersion() {
    installedVersion = ReadInstalledVersion(uninstallKey);
}

void Updater::QueryProductInfo() {
    FetchProductInfo(downloader, catalogueRows, simFamily, products, releaseKey);
}

void Updater::QueryManifestTotals(ProductInfo& product, std::int32_t version) {
    // The download's own queries travel beside the totals: one round trip for all of them. Not for a
    // version text that the update will refuse before it asks for anything more.
    if (!VersionTextProblem(product.PVDec, product.ProdVersion))
        downloader.Prefetch(FileListUrls(product, version, releaseKey.has_value()));
    FetchManifestTotals(downloader, product, version);
}

void Updater::DownloadProductFiles(const ProductInfo& product, std::int32_t version,
                                   const std::string& tempFolder, const std::string& simFolder) {
    DownloadFiles(downloader, product, version, tempFolder, manifest, releaseKey, simFolder);
}

namespace {

InstallPlace PlaceOf(const Updater& updater, const ProductInfo& product, std::int32_t version,
                     const std::string& tempFolder, const std::string& simFolder) {
    return {tempFolder, BackupRoot(tempFolder, updater.aircraftCode, updater.simFamily),
            simFolder,  product.ProductID,
            version,    product.ProdVersion};
}

}  // namespace

int Updater::InstallProductFiles(const ProductInfo& product, std::int32_t version,
                                 const std::string& tempFolder, const std::string& simFolder) {
    return InstallFiles(downloader, manifest, PlaceOf(*this, product, version, tempFolder, simFolder));
}

void Updater::FinishProductInstall(const ProductInfo& product, const std::string& tempFolder) {
    FinishInstall(PlaceOf(*this, product, installedVersion, tempFolder, std::string()));
}

}  // namespace zavr
