// Signed releases: the maker signs each product document and each file-list reply with an Ed25519 key
// kept offline, and a build that holds the maker's public key takes neither from the server unless
// the signature holds. A signature travels beside its reply, at the reply's address with ".sig" added
// to the path, as 128 hexadecimal digits. What it covers binds the reply to the query it answers:
//
//   product document:  "ZAVR product document\n" <sim>/<aircraft>/<row> "\n" <document bytes>
//   file list:         "ZAVR file list 2\nproduct=" <id> "\nversion=" <installed> "\ntarget=" <ProdVersion>
//                      "\n" <reply bytes>
//
// A file list's signature names the version it installs, so that an older release's list for the same
// installed version cannot be served beside a newer product document.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "server/downloader.h"

namespace zavr {

using ReleaseKey = std::array<unsigned char, 32>;
using Signature = std::array<unsigned char, 64>;

// The key of 64 hexadecimal digits; nullopt for an empty text (a build without a key). Throws
// std::invalid_argument for any other text.
std::optional<ReleaseKey> ReadReleaseKey(const std::string& hex);

// 128 hexadecimal digits, then at most one line end ("\n" or "\r\n"). Throws std::runtime_error with a
// sentence that says what is wrong.
Signature ReadSignature(const std::string& text);

// "<path>.sig", the query (if any) kept after it.
std::string SignatureUrl(const std::string& replyUrl);

// What a signature covers (see above). The row is the last three elements of the document's address
// without ".json".
std::string ProductDocumentMessage(const std::string& infoUrl, const std::string& document);
std::string FileListMessage(std::int32_t product, std::int32_t version, std::int32_t target,
                            const std::string& reply);
// The form signed before lists named their target; only recognised, to say why such a signature fails.
std::string OldFileListMessage(std::int32_t product, std::int32_t version, const std::string& reply);

// Whether signature was made with key's private half over message (libsodium's check). Never throws.
bool SignatureHolds(const ReleaseKey& key, const Signature& signature, const std::string& message);

// Fetches the signature of the reply at replyUrl and checks it over message. nullopt when it holds;
// otherwise what is wrong, as the end of a sentence: no signature there, a malformed one, one made over
// oldMessage (a form no longer accepted; ignored when empty), or one that does not hold. Throws what
// FetchText throws but for the transfer's own failures, which are reasons.
std::optional<std::string> SignatureProblem(const Downloader& downloader, const ReleaseKey& key,
                                            const std::string& replyUrl, const std::string& message,
                                            const std::string& oldMessage = std::string());

// The same, as a refusal: throws std::runtime_error with refusal + the reason + consequence unless the
// signature holds.
void RequireSignature(const Downloader& downloader, const ReleaseKey& key, const std::string& replyUrl,
                      const std::string& message, const std::string& oldMessage, const std::string& refusal,
                      const std::string& consequence);

}  // namespace zavr
