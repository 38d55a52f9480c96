// The version text: the same number as the C library's own conversion, clamped to 32 bits.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "catalogue/installed_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string digits;
    for (const char c : text)
        if (c != '.') digits += c;
    digits = digits.substr(0, digits.find('\0'));  // the C library reads up to the first zero byte
    errno = 0;
    long long expected = std::strtoll(digits.c_str(), nullptr, 10);
    if (expected > INT32_MAX) expected = INT32_MAX;
    if (expected < INT32_MIN) expected = INT32_MIN;
    const std::string withoutZero = text.substr(0, text.find('\0'));
    if (zavr::VersionFromText(withoutZero) != expected) __builtin_trap();
    return 0;
}
