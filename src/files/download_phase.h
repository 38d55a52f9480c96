// The first half of a product's update: the file list, and every listed file brought, verified, into
// the product's temporary folder.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "server/downloader.h"
#include "server/product_info.h"
#include "server/release_signature.h"

namespace zavr {

// The queries DownloadFiles makes before it fetches any file: the file list, and its signature when
// withSignature. For Downloader::Prefetch. Never fails.
std::vector<std::string> FileListUrls(const ProductInfo& product, std::int32_t version, bool withSignature);

// Fetches the product's file list for the installed version and stores it in manifest, then brings
// every listed file, verified, into tempFolder; intact files already there are kept. Throws
// std::runtime_error: the transfer's errors, "Aborting file download; see error above.", "Aborting
// file download, a downloaded file has failed integrity-check.", a sentence for a file list that is
// not JSON or an entry that is malformed or names an unsafe path, and the file-system library's errors.
// manifest keeps the list whatever happens after it was read. With a release key, a list whose
// signature does not hold (see server/release_signature.h) throws std::runtime_error "The server's file
// list for <product> was not signed by the maker: <why>. ..." before it is read or anything is fetched.
// A large file of which a copy is at hand, installed under simFolder (empty for none) or stale in
// tempFolder, is built from that copy and the blocks it lacks when the server has a block map for it
// (see files/delta_build.h); with a release key, only from a map whose digest the signed list names.
void DownloadFiles(Downloader& downloader, const ProductInfo& product, std::int32_t version,
                   const std::string& tempFolder, nlohmann::json& manifest,
                   const std::optional<ReleaseKey>& releaseKey = std::nullopt,
                   const std::string& simFolder = std::string());

}  // namespace zavr
