// One product as the update server describes it.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "server/downloader.h"
#include "server/release_signature.h"

namespace zavr {

// Field names are the server's JSON keys.
struct ProductInfo {
    std::string InfoUrl;   // the query that produced the record
    std::string FilesUrl;  // base address of the product's files
    std::int32_t ProductID = 0;
    std::string ProdName;
    std::string Simulator;
    std::int32_t ProdVersion = 0;
    std::int32_t MinVersion = 0;
    std::string PVDec;               // display text of ProdVersion, written to the registry
    std::string ZAVRFolderValue;     // the product's folder inside the simulator's folder
    std::string RegistryKey;         // under HKEY_CURRENT_USER, holding "AppPath"
    std::int32_t TotalFileSize = 0;  // kilobytes, from the manifest totals
    std::int32_t TotalFiles = 0;
};

// The server's fields of one product object of a product-information reply (InfoUrl, FilesUrl and the
// totals are left as they are), read in the order "ProductID", "PVDec", "ProdVersion", "MinVersion",
// "ZAVRFolderValue", "RegistryKey", "ProdName", "Simulator". Throws the JSON library's type error at the
// first key that is missing or of the wrong type, or when product is not an object.
void ReadProductInfo(const nlohmann::json& product, ProductInfo& record);

// Fetches the product-information reply of every catalogue row, in order, and appends one record per
// product to products, logging each. simFamily is only shown. Throws what FetchText throws, and
// std::runtime_error "The server's reply to <url> is not what I expected: <why>" for a reply that is not
// one JSON value within the reply limits or a product that lacks a key or holds a mistyped value; the
// records appended before the error stay. With a release key, a reply whose signature does not hold
// (see server/release_signature.h) throws std::runtime_error "The product information at <url> is not
// signed by the maker: <why>. ..." before anything of it is read, and a reply with a status other than
// 200 throws "The server answered <status> to <url> instead of the product information. ..." before its
// signature is asked for.
void FetchProductInfo(const Downloader& downloader, const std::vector<CatalogueRow>& rows,
                      const std::string& simFamily, std::vector<ProductInfo>& products,
                      const std::optional<ReleaseKey>& releaseKey = std::nullopt);

}  // namespace zavr
