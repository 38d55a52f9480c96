// The heart of a run: each product in turn is skipped, reported out-dated or current, or updated.
#include <optional>
#include <stdexcept>

#include "app/update_decision.h"
#include "app/updater.h"
#include "catalogue/build_settings.h"
#include "catalogue/installed_version.h"
#include "catalogue/registry.h"
#include "files/file_list.h"
#include "files/file_moves.h"
#include "log/log.h"
#include "log/next_step.h"
#include "platform/paths.h"

namespace zavr {
namespace {

std::string Describe(const ProductInfo& product) {
    return product.ProdName + " for " + product.Simulator;
}

// The product's names become folder names under the data folder; refuse any that would leave it. Its
// folder in the simulator's becomes part of a path too.
void CheckFolderNames(const ProductInfo& product) {
    for (const std::string* name : {&product.ProdName, &product.Simulator}) {
        if (const std::optional<std::string> reason = UnsafeNameReason(*name))
            throw std::runtime_error("The server names a product folder \"" + *name +
                                     "\", which I refuse: " + *reason + ".");
    }
    for (const char c : product.ZAVRFolderValue)
        if (IsControlCharacter(c))
            throw std::runtime_error("The server names the product's folder \"" + product.ZAVRFolderValue +
                                     "\", which I refuse: it holds a control character.");
}

// A server text as a sentence shows it: long ones cut short, with their length.
std::string Shown(const std::string& text) {
    constexpr std::size_t kShown = 60;
    if (text.size() <= kShown) return "\"" + text + "\"";
    return "\"" + text.substr(0, kShown) + "...\" (" + std::to_string(text.size()) + " characters)";
}

// PVDec is what the registry will hold, and every later run reads the installed version back from it:
// it must fit the registry read and read back as the version being installed.
void CheckVersionText(const ProductInfo& product) {
    if (const std::optional<std::string> problem = VersionTextProblem(product.PVDec, product.ProdVersion))
        throw std::runtime_error("The server gives " + Shown(product.PVDec) + " as the text of version " +
                                 std::to_string(product.ProdVersion) + ", which " + *problem +
                                 "; I refuse to record it.");
}

// Where one product's update happens.
struct ProductFolders {
    std::string temp;  // its temporary folder, which holds the Backup tree
    std::string sim;   // the simulator's folder
};

// Everything before an update of the product: its folders, the simulator's place, and the decision.
// nullopt, with the reason logged, when nothing is to be done. Throws std::runtime_error when the product
// fails: an unsafe folder name, a link in the data folder, a folder that cannot be made or examined.
std::optional<ProductFolders> PrepareProduct(const ProductInfo& product, const std::string& workFolder,
                                             std::int32_t installed) {
    const std::string productTempFolder = workFolder + product.ProdName + Sep() + product.Simulator + Sep();
    CheckFolderNames(product);
    RefuseLinks(workFolder, product.ProdName + Sep() + product.Simulator);
    EnsureDirectory(productTempFolder);
    WriteLog(1, ">>> Product: " + Describe(product));
    WriteLog(0, "This product using temp dir: " + productTempFolder);
    WriteLog(1, "Finding install-directory this product's simulator...");
    WriteLog(1,
             "If a registry key error appears, disregard - it simply means you do not have that simulator "
             "installed.");
    const std::string simFolder =
        ReadRegistryString(RegistryRoot::CurrentUser, product.RegistryKey, "AppPath");
    if (simFolder.empty()) {
        WriteLog(1, "I found no sim install corresponding to product ID " +
                        std::to_string(product.ProductID) + "; skipping.");
        return std::nullopt;
    }
    WriteLog(1, "Sim install directory in registry is " + simFolder);
    const std::string productFolder = simFolder + product.ZAVRFolderValue + Sep();
    WriteLog(1, product.ProdName + " path should be " + productFolder);

    switch (DecideUpdate(installed, product)) {
        case UpdateDecision::OutDated:
            WriteLog(
                1, std::to_string(installed) + " is out-dated and must be updated with the full installer.");
            WriteLog(1, "Please check to ensure that you have updated to the minimum version.");
            WriteLog(1, std::string("Log into your account at ") + kBuildSettings.makerSite +
                            ", click on 'View Previous Orders' and then your order number.");
            return std::nullopt;
        case UpdateDecision::Current:
            WriteLog(1, std::to_string(installed) + " is the current version. No need to update.");
            return std::nullopt;
        case UpdateDecision::Due:
            break;
    }
    if (!PathExists(productFolder)) {
        WriteLog(1, "Product directory " + productFolder + " does not exist; not updating.");
        AdviseNextStep(NextStep::ReinstallFolder);
        return std::nullopt;
    }
    WriteLog(1, "Updating you to version " + std::to_string(product.ProdVersion));
    WriteLog(1, "Product directory " + productFolder + " exists");
    return ProductFolders{productTempFolder, simFolder};
}

}  // namespace

UpdateCounts Updater::UpdateProducts() {
    workFolder = UpdaterFolder();
    EnsureDirectory(workFolder);
    UpdateCounts counts;
    for (ProductInfo& product : products) {
        // A product that fails, fails alone; the run goes on with the next one.
        const auto failed = [&](const std::runtime_error& error) {
            WriteLog(2, "Update terminated abnormally for " + Describe(product) + ": " + error.what());
            AdviseNextStep(NextStepFor(error));
            ++counts.failed;
        };
        std::optional<ProductFolders> folders;
        try {
            folders = PrepareProduct(product, workFolder, installedVersion);
        } catch (const std::runtime_error& error) {
            failed(error);
            continue;
        }
        if (!folders) continue;
        QueryManifestTotals(product, installedVersion);  // what it throws ends the run
        WriteLog(1, "Upstream says " + std::to_string(product.TotalFiles) + " new file(s) totaling " +
                        std::to_string(product.TotalFileSize) + "KB");
        WriteLog(1, "Your files are being updated. Depending on file size, this may take some time.");
        try {
            CheckVersionText(product);
            DownloadProductFiles(product, installedVersion, folders->temp, folders->sim);
            const int installed = InstallProductFiles(product, installedVersion, folders->temp, folders->sim);
            // The version is recorded only after every file is in place, checked and on the disk; the
            // update's journal then has done its work, and not before. Unrecorded, the update has not
            // happened: the journal stays, so that the next run keeps the backups and records it.
            if (installed > 0) {
                if (!WriteRegistryString(RegistryRoot::LocalMachine, uninstallKey, "DisplayVersion",
                                         product.PVDec))
                    throw std::runtime_error(
                        "The new files are in place, but the new version could not be recorded (see above); "
                        "run the updater again to record it.");
                FinishProductInstall(product, folders->temp);
            }
            WriteLog(1, "Great, " + Describe(product) + " was successfully updated to the latest version!");
            ++counts.succeeded;
        } catch (const std::runtime_error& error) {
            failed(error);
        }
    }
    return counts;
}

}  // namespace zavr
