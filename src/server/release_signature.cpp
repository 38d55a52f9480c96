#include "server/release_signature.h"
#include "log/next_step.h"

#include <sodium.h>

#include <stdexcept>

namespace zavr {
namespace {

// Fills out from exactly 2 * N hexadecimal digits; false for anything else.
template <std::size_t N>
bool FromHex(const std::string& hex, std::array<unsigned char, N>& out) {
    std::size_t length = 0;
    const char* end = nullptr;
    return hex.size() == 2 * N &&
           sodium_hex2bin(out.data(), N, hex.data(), hex.size(), nullptr, &length, &end) == 0 &&
           length == N && end == hex.data() + hex.size();
}

}  // namespace

std::optional<ReleaseKey> ReadReleaseKey(const std::string& hex) {
    if (hex.empty()) return std::nullopt;
    ReleaseKey key{};
    if (!FromHex(hex, key)) throw std::invalid_argument("a release key is 64 hexadecimal digits");
    return key;
}

Signature ReadSignature(const std::string& text) {
    std::string digits = text;
    if (digits.size() >= 2 && digits.compare(digits.size() - 2, 2, "\r\n") == 0)
        digits.resize(digits.size() - 2);
    else if (!digits.empty() && digits.back() == '\n')
        digits.pop_back();
    Signature signature{};
    if (digits.size() != 2 * signature.size())
        throw std::runtime_error("it holds " + std::to_string(digits.size()) +
                                 " characters instead of 128 hexadecimal digits");
    if (!FromHex(digits, signature))
        throw std::runtime_error("it holds a character that is not a hexadecimal digit");
    return signature;
}

std::string SignatureUrl(const std::string& replyUrl) {
    const std::size_t query = replyUrl.find('?');
    if (query == std::string::npos) return replyUrl + ".sig";
    return replyUrl.substr(0, query) + ".sig" + replyUrl.substr(query);
}

std::string ProductDocumentMessage(const std::string& infoUrl, const std::string& document) {
    std::string row = infoUrl.substr(0, infoUrl.find('?'));
    if (row.size() >= 5 && row.compare(row.size() - 5, 5, ".json") == 0) row.resize(row.size() - 5);
    std::size_t start = row.size();
    for (int slashes = 0; slashes < 3 && start != std::string::npos && start > 0; ++slashes)
        start = row.rfind('/', start - 1);
    row = start == std::string::npos ? row : row.substr(start + 1);
    return "ZAVR product document\n" + row + "\n" + document;
}

std::string FileListMessage(std::int32_t product, std::int32_t version, std::int32_t target,
                            const std::string& reply) {
    return "ZAVR file list 2\nproduct=" + std::to_string(product) + "\nversion=" + std::to_string(version) +
           "\ntarget=" + std::to_string(target) + "\n" + reply;
}

std::string OldFileListMessage(std::int32_t product, std::int32_t version, const std::string& reply) {
    return "ZAVR file list\nproduct=" + std::to_string(product) + "\nversion=" + std::to_string(version) +
           "\n" + reply;
}

bool SignatureHolds(const ReleaseKey& key, const Signature& signature, const std::string& message) {
    // Safe to call again and from any thread. It fails only when the library cannot start at all; the
    // check then refuses rather than run on an unready library.
    if (sodium_init() < 0) return false;
    return crypto_sign_verify_detached(signature.data(),
                                       reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                                       key.data()) == 0;
}

std::optional<std::string> SignatureProblem(const Downloader& downloader, const ReleaseKey& key,
                                            const std::string& replyUrl, const std::string& message,
                                            const std::string& oldMessage) {
    const std::string url = SignatureUrl(replyUrl);
    std::string text;
    long status = 0;
    try {
        text = downloader.FetchText(url, &status);
    } catch (const std::runtime_error& error) {
        return "I could not fetch its signature (" + std::string(error.what()) + ")";
    }
    if (status != 200)
        return "there is no signature at " + EscapeSpaces(url) + " (the server answered " +
               std::to_string(status) + ")";
    Signature signature{};
    try {
        signature = ReadSignature(text);
    } catch (const std::runtime_error& error) {
        return "the signature at " + EscapeSpaces(url) + " is malformed: " + error.what();
    }
    if (SignatureHolds(key, signature, message)) return std::nullopt;
    if (!oldMessage.empty() && SignatureHolds(key, signature, oldMessage))
        return "the signature at " + EscapeSpaces(url) +
               " is of an older form that does not name the version the list installs, which I no longer "
               "accept; the maker must sign the release again with a current zavr-sign";
    return "the signature at " + EscapeSpaces(url) +
           " does not hold: it was made by another key, for another query or release, or over other "
           "content";
}

void RequireSignature(const Downloader& downloader, const ReleaseKey& key, const std::string& replyUrl,
                      const std::string& message, const std::string& oldMessage, const std::string& refusal,
                      const std::string& consequence) {
    if (const std::optional<std::string> problem =
            SignatureProblem(downloader, key, replyUrl, message, oldMessage))
        throw UserFailure(refusal + *problem + consequence, NextStep::SignatureRefused);
}

}  // namespace zavr
