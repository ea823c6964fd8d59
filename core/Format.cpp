#include "core/Format.h"

#include "core/Exceptions.h"

#include <charconv>

namespace core {

namespace {

[[noreturn]] void formatError(std::string_view pattern)
{
    throw EConvertError("Format '" + std::string(pattern) + "' invalid or incompatible with argument");
}

void appendNumber(std::string& out, std::int64_t value, int base)
{
    char buffer[32];
    auto result = base == 16 ? std::to_chars(buffer, buffer + sizeof buffer,
                                             static_cast<std::uint64_t>(value), 16)
                             : std::to_chars(buffer, buffer + sizeof buffer, value, 10);
    out.append(buffer, result.ptr);
}

} // namespace

std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args)
{
    std::string out;
    out.reserve(pattern.size() + 32);
    auto next = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (++i >= pattern.size())
            formatError(pattern);
        char directive = pattern[i];
        if (directive == '%') {
            out += '%';
            continue;
        }
        if (next == args.end())
            formatError(pattern);
        const auto& value = next->value();
        ++next;
        switch (directive) {
        case 's':
            if (!std::holds_alternative<std::string_view>(value))
                formatError(pattern);
            out += std::get<std::string_view>(value);
            break;
        case 'd':
        case 'u':
        case 'x':
            if (!std::holds_alternative<std::int64_t>(value))
                formatError(pattern);
            appendNumber(out, std::get<std::int64_t>(value), directive == 'x' ? 16 : 10);
            break;
        default:
            formatError(pattern);
        }
    }
    return out;
}

} // namespace core
