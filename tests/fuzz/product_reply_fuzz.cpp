// The product-information reply: any text is refused with the JSON library's errors or read whole.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "server/json_read.h"
#include "server/product_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        for (const nlohmann::json& product : zavr::ParseReply(text, zavr::kQueryReplyLimits)) {
            zavr::ProductInfo record;
            zavr::ReadProductInfo(product, record);
        }
    } catch (const nlohmann::json::exception&) {
    } catch (const std::runtime_error&) {  // beyond the reply limits
    }
    return 0;
}
