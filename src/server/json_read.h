// Reading the server's JSON with the library's own conversions and errors, without ever touching a
// member that is not there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <nlohmann/json.hpp>
#include <string>

namespace zavr {

// The member named key of object, or null when object has none; member access on a value that is
// not an object throws the library's type error.
const nlohmann::json& Member(const nlohmann::json& object, const char* key);

// A number (or true/false) as a 32-bit integer, fractions truncated toward zero. A number beyond the
// 32-bit range throws the library's type error, as anything else that is not a number does: it is not a
// version, count or size this system knows.
std::int32_t ToInt32(const nlohmann::json& value);

// How much a reply may hold before it is refused unparsed: with at most maxValues values (objects,
// arrays and scalars) nested at most maxDepth deep, the parsed document of any reply that the transfer
// limit lets through stays far below the memory of a 32-bit process, whatever the reply's shape.
struct ReplyLimits {
    std::size_t maxValues;
    std::size_t maxDepth;
};
constexpr ReplyLimits kQueryReplyLimits{100000, 32};      // product information and totals
constexpr ReplyLimits kFileListReplyLimits{1000000, 32};  // 100,000 entries of five values, and room

// The document of a reply text, taken up to its first zero byte. Throws std::runtime_error "it holds more
// than N values" or "it nests deeper than N levels" beyond the limits, and the library's parse error.
nlohmann::json ParseReply(const std::string& text, const ReplyLimits& limits);

// Throws std::runtime_error "The server's reply to <url> is not what I expected: <error>", for a reply
// that could not be read.
[[noreturn]] void ThrowUnexpectedReply(const std::string& url, const std::exception& error);

}  // namespace zavr
