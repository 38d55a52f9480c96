// The product-information reply: any text is refused with the JSON library's errors or read whole.
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/json_read.h"
#include "server/product_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        for (const nlohmann::json& product : zavr::ParseReply(text)) {
            zavr::ProductInfo record;
            zavr::ReadProductInfo(product, record);
        }
    } catch (const nlohmann::json::exception&) {
    }
    return 0;
}
