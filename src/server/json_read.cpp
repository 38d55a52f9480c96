#include "server/json_read.h"

#include <limits>
#include <stdexcept>

#include "log/next_step.h"

namespace zavr {
namespace {

using nlohmann::json;

// Counts a reply's values and depth as the parser meets them, stopping at the first one too many, so that
// nothing of a reply over the limits is ever built in memory.
class ReplyMeter {
  public:
    explicit ReplyMeter(const ReplyLimits& limits) : limits_(limits) {}

    bool null() { return Value(); }
    bool boolean(bool) { return Value(); }
    bool number_integer(json::number_integer_t) { return Value(); }
    bool number_unsigned(json::number_unsigned_t) { return Value(); }
    bool number_float(json::number_float_t, const json::string_t&) { return Value(); }
    bool string(json::string_t&) { return Value(); }
    bool binary(json::binary_t&) { return Value(); }
    bool start_object(std::size_t) { return Value() && Enter(); }
    bool start_array(std::size_t) { return Value() && Enter(); }
    bool key(json::string_t&) { return true; }
    bool end_object() { return Leave(); }
    bool end_array() { return Leave(); }
    bool parse_error(std::size_t, const std::string&, const json::exception&) { return false; }

    // Why the reply is refused; empty when it is within the limits (or not JSON, which the parser says).
    const std::string& Refusal() const { return refusal_; }

  private:
    bool Value() {
        if (++values_ <= limits_.maxValues) return true;
        refusal_ = "it holds more than " + std::to_string(limits_.maxValues) + " values";
        return false;
    }
    bool Enter() {
        if (++depth_ <= limits_.maxDepth) return true;
        refusal_ = "it nests deeper than " + std::to_string(limits_.maxDepth) + " levels";
        return false;
    }
    bool Leave() {
        --depth_;
        return true;
    }

    ReplyLimits limits_;
    std::size_t values_ = 0;
    std::size_t depth_ = 0;
    std::string refusal_;
};

}  // namespace

const json& Member(const json& object, const char* key) {
    static const json null;
    if (!object.is_object()) return object.at(key);  // the library's "cannot use at() with ..." error
    const auto found = object.find(key);
    return found == object.end() ? null : *found;
}

std::int32_t ToInt32(const json& value) {
    constexpr double kLowest = std::numeric_limits<std::int32_t>::min();
    constexpr double kHighest = std::numeric_limits<std::int32_t>::max();
    bool outside = false;
    if (value.is_number_unsigned())  // tested first: the library counts it as an integer too
        outside = value.get<std::uint64_t>() > kHighest;
    else if (value.is_number_integer())
        outside = value.get<std::int64_t>() < kLowest || value.get<std::int64_t>() > kHighest;
    else if (value.is_number_float())
        outside = !(value.get<double>() > kLowest - 1.0 && value.get<double>() < kHighest + 1.0);
    if (outside)
        throw json::type_error::create(302, "number " + value.dump() + " is outside the 32-bit range",
                                       &value);
    return value.get<std::int32_t>();
}

json ParseReply(const std::string& text, const ReplyLimits& limits) {
    ReplyMeter meter(limits);
    json::sax_parse(text.c_str(), &meter);
    if (!meter.Refusal().empty()) throw std::runtime_error(meter.Refusal());
    return json::parse(text.c_str());
}

void ThrowUnexpectedReply(const std::string& url, const std::exception& error) {
    throw UserFailure("The server's reply to " + url + " is not what I expected: " + error.what(),
                      NextStep::ServerFault);
}

}  // namespace zavr
