// The totals reply: refused with the JSON library's errors, or read; a refusal leaves the totals alone.
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zavr::ProductInfo product;
    product.TotalFiles = -7;
    product.TotalFileSize = -7;
    try {
        zavr::ReadTotals(std::string(reinterpret_cast<const char*>(data), size), product);
    } catch (const std::exception&) {  // the library's errors, or beyond the reply limits
        if (product.TotalFiles != -7 || product.TotalFileSize != -7) __builtin_trap();
    }
    return 0;
}
