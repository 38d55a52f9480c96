// The update manifest: what the update from one installed version of one product consists of.
#pragma once

#include <cstdint>
#include <string>

#include "server/downloader.h"
#include "server/product_info.h"

namespace zavr {

// base + "?product=" + productId + "&version=" + installedVersion, from a stored (scrambled) base,
// which is in plain form only while the address is built. Never fails.
std::string ManifestQueryUrl(char* storedBase, std::int32_t productId, std::int32_t installedVersion);

// Reads a totals reply into product.TotalFiles and product.TotalFileSize; a missing or mistyped
// "TotalFileSize" counts as 0. Throws the JSON library's parse and type errors, or std::runtime_error
// beyond the reply limits, for any other unexpected reply, leaving the totals as they were.
void ReadTotals(const std::string& reply, ProductInfo& product);

// Asks the totals endpoint about the update of product from installed version and reads the reply into
// product (see ReadTotals). Throws what FetchText throws, and std::runtime_error "The server's reply to
// <url> is not what I expected: <why>" for what ReadTotals refuses.
void FetchManifestTotals(const Downloader& downloader, ProductInfo& product, std::int32_t version);

}  // namespace zavr
