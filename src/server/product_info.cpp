// Asking the update server for the products of the run's aircraft and simulator family.
#include "server/product_info.h"

#include "catalogue/stored_text.h"
#include "log/log.h"
#include "log/next_step.h"
#include "server/json_read.h"

namespace zavr {

void ReadProductInfo(const nlohmann::json& product, ProductInfo& record) {
    record.ProductID = ToInt32(Member(product, "ProductID"));
    record.PVDec = Member(product, "PVDec").get<std::string>();
    record.ProdVersion = ToInt32(Member(product, "ProdVersion"));
    record.MinVersion = ToInt32(Member(product, "MinVersion"));
    record.ZAVRFolderValue = Member(product, "ZAVRFolderValue").get<std::string>();
    record.RegistryKey = Member(product, "RegistryKey").get<std::string>();
    record.ProdName = Member(product, "ProdName").get<std::string>();
    record.Simulator = Member(product, "Simulator").get<std::string>();
}

void FetchProductInfo(const Downloader& downloader, const std::vector<CatalogueRow>& rows,
                      const std::string& simFamily, std::vector<ProductInfo>& products,
                      const std::optional<ReleaseKey>& releaseKey) {
    WriteLog(1, "Fetching available product information for " + simFamily + "...");
    for (const CatalogueRow& row : rows) {
        // Destroyed in reverse order: the files address is scrambled back first, then the query.
        const UnscrambledText info(row.infoUrl);
        const UnscrambledText files(row.filesUrl);
        const std::string infoUrl = info.Copy();
        WriteLog(0, infoUrl);
        // The document and its signature are asked for together: one round trip for both.
        if (releaseKey) downloader.Prefetch({infoUrl, SignatureUrl(infoUrl)});
        long status = 0;
        const std::string reply = downloader.FetchText(infoUrl, &status);
        // A missing document is a server's fault to name as such, not as a missing signature.
        if (releaseKey && status != 200)
            throw UserFailure("The server answered " + std::to_string(status) + " to " +
                                  EscapeSpaces(infoUrl) +
                                  " instead of the product information. I take nothing from this server.",
                              NextStep::ServerFault);
        if (releaseKey)
            RequireSignature(
                downloader, *releaseKey, infoUrl, ProductDocumentMessage(infoUrl, reply), "",
                "The product information at " + EscapeSpaces(infoUrl) + " is not signed by the maker: ",
                ". I take nothing from this server.");
        nlohmann::json document;
        try {
            document = ParseReply(reply, kQueryReplyLimits);
        } catch (const std::exception& error) {
            ThrowUnexpectedReply(infoUrl, error);
        }
        for (const nlohmann::json& product : document) {
            ProductInfo record;
            record.InfoUrl = infoUrl;
            record.FilesUrl = files.Copy();
            try {
                ReadProductInfo(product, record);
            } catch (const std::exception& error) {
                ThrowUnexpectedReply(infoUrl, error);
            }
            WriteLog(1, "Retrieved data about ZAVR product " + std::to_string(record.ProductID) + ": " +
                            record.ProdName + " for " + record.Simulator);
            products.push_back(std::move(record));
        }
    }
}

}  // namespace zavr
