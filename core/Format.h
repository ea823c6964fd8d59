#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace core {

// One argument of Format: a whole number or a text.
class FormatArg {
public:
    FormatArg(int value) : value_(std::int64_t{value}) {}
    FormatArg(long value) : value_(std::int64_t{value}) {}
    FormatArg(long long value) : value_(std::int64_t{value}) {}
    FormatArg(unsigned value) : value_(std::int64_t{value}) {}
    FormatArg(unsigned long value) : value_(static_cast<std::int64_t>(value)) {}
    FormatArg(unsigned long long value) : value_(static_cast<std::int64_t>(value)) {}
    FormatArg(const char* value) : value_(std::string_view(value ? value : "")) {}
    FormatArg(std::string_view value) : value_(value) {}
    FormatArg(const std::string& value) : value_(std::string_view(value)) {}

    const std::variant<std::int64_t, std::string_view>& value() const { return value_; }

private:
    std::variant<std::int64_t, std::string_view> value_;
};

// Fills a printf-style template the way the system's messages are written: %s takes a text,
// %d a signed number, %u an unsigned one, %x lower-case hexadecimal, %% a percent sign.
// A directive without a matching argument, or of the wrong kind, raises EConvertError.
std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args);

} // namespace core
