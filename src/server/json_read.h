// Reading the server's JSON with the library's own conversions and errors, without ever touching a
// member that is not there.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>

namespace zavr {

// The member named key of object, or null when object has none; member access on a value that is
// not an object throws the library's type error.
const nlohmann::json& Member(const nlohmann::json& object, const char* key);

// A number (or true/false) as a 32-bit integer, fractions truncated toward zero. A fractional value
// beyond the 32-bit range is clamped rather than converted, which would be undefined. Anything else
// throws the library's type error.
std::int32_t ToInt32(const nlohmann::json& value);

// The document of a reply text, taken up to its first zero byte. Throws the library's parse error.
nlohmann::json ParseReply(const std::string& text);

}  // namespace zavr
