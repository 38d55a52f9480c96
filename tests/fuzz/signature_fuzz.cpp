// The signature reader and the check behind it: any text is either refused with a sentence or read as
// the very 64 bytes it spells, and no signature read from it holds for a key that made none.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "server/release_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    zavr::Signature signature{};
    try {
        signature = zavr::ReadSignature(text);
    } catch (const std::runtime_error& error) {
        if (std::string(error.what()).empty()) __builtin_trap();
        return 0;
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string spelled;
    for (const unsigned char byte : signature) {
        spelled += kDigits[byte >> 4];
        spelled += kDigits[byte & 0x0f];
    }
    std::string lower = text.substr(0, 128);
    for (char& c : lower)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (spelled != lower) __builtin_trap();
    // A key of zeros is not a point on the curve that any signer holds: nothing may hold for it.
    const zavr::ReleaseKey key{};
    if (zavr::SignatureHolds(key, signature, zavr::FileListMessage(1001, 110, 123, text))) __builtin_trap();
    return 0;
}
