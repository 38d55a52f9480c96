#include "server/manifest.h"

#include "catalogue/catalogue.h"
#include "catalogue/stored_text.h"
#include "server/json_read.h"

namespace zavr {
namespace {

// Element 0 of a totals reply. An empty array yields null, whose member access then throws the
// library's type error; a top level that is not an array throws it here.
const nlohmann::json& FirstElement(const nlohmann::json& document) {
    static const nlohmann::json null;
    if (document.is_array()) return document.empty() ? null : document.front();
    return document.at(0);
}

}  // namespace

std::string ManifestQueryUrl(char* storedBase, std::int32_t productId, std::int32_t installedVersion) {
    const UnscrambledText base(storedBase);
    return base.Copy() + "?product=" + std::to_string(productId) +
           "&version=" + std::to_string(installedVersion);
}

void ReadTotals(const std::string& reply, ProductInfo& product) {
    const nlohmann::json document = ParseReply(reply, kQueryReplyLimits);
    const nlohmann::json& totals = FirstElement(document);
    const std::int32_t files = ToInt32(Member(totals, "TotalFiles"));
    std::int32_t size = 0;
    try {
        size = ToInt32(Member(totals, "TotalFileSize"));
    } catch (const nlohmann::json::type_error&) {
        size = 0;  // the size is for show only: missing or mistyped counts as 0
    }
    product.TotalFiles = files;
    product.TotalFileSize = size;
}

void FetchManifestTotals(const Downloader& downloader, ProductInfo& product, std::int32_t version) {
    const std::string url = ManifestQueryUrl(StoredTotalsBase(), product.ProductID, version);
    const std::string reply = downloader.FetchText(url);
    try {
        ReadTotals(reply, product);
    } catch (const std::exception& error) {
        ThrowUnexpectedReply(url, error);
    }
}

}  // namespace zavr
