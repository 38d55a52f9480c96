#include "catalogue/installed_version.h"

#include <algorithm>
#include <limits>

#include "catalogue/registry.h"
#include "log/log.h"
#include "platform/registry_store.h"

namespace zavr {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Digits only, without the dots; the conversion of what is left.
std::int32_t NumberFrom(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // The magnitude stops growing at the limit of its sign, so no length of digits can overflow.
    const std::int64_t limit = negative ? -std::int64_t{std::numeric_limits<std::int32_t>::min()}
                                        : std::int64_t{std::numeric_limits<std::int32_t>::max()};
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        magnitude = std::min(limit, magnitude * 10 + (text[i] - '0'));
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace

std::int32_t VersionFromText(const std::string& text) {
    std::string digits = text;
    digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
    return NumberFrom(digits);
}

std::int32_t ReadInstalledVersion(const std::string& uninstallKey) {
    WriteLog(1, "Finding installed ZAVR product version");
    std::string text = ReadRegistryString(RegistryRoot::LocalMachine, uninstallKey, "DisplayVersion");
    text.erase(std::remove(text.begin(), text.end(), '.'), text.end());
    WriteLog(0, "Registry value: " + text);
    const std::int32_t version = VersionFromText(text);
    WriteLog(1, "Installed ZAVR product version: " + std::to_string(version));
    return version;
}

std::optional<std::string> VersionTextProblem(const std::string& text, std::int32_t version) {
    const std::size_t longest = kRegistryReadBuffer - 1;
    if (text.size() > longest)
        return "is longer than the " + std::to_string(longest) + " characters I can read back";
    const std::int32_t readBack = VersionFromText(text);
    if (readBack != version) return "would read back as version " + std::to_string(readBack);
    return std::nullopt;
}

}  // namespace zavr
