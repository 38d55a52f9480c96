#include "server/json_read.h"

#include <limits>

namespace zavr {

const nlohmann::json& Member(const nlohmann::json& object, const char* key) {
    static const nlohmann::json null;
    if (!object.is_object()) return object.at(key);  // the library's "cannot use at() with ..." error
    const auto found = object.find(key);
    return found == object.end() ? null : *found;
}

std::int32_t ToInt32(const nlohmann::json& value) {
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (number >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
        if (number <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    }
    return value.get<std::int32_t>();
}

nlohmann::json ParseReply(const std::string& text) {
    return nlohmann::json::parse(text.c_str());
}

}  // namespace zavr
