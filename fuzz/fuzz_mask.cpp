// Compiles the first part of the input as a mask and matches the rest, split at newlines, as
// names against it. Malformed masks must fail only with the mask error; nothing may crash or
// run long.
#include "core/Exceptions.h"
#include "scan/TMask.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string_view mask = input.substr(0, split);
    std::string_view names =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    try {
        const TMask compiled(mask);
        for (;;) {
            const std::size_t end = names.find('\n');
            (void)compiled.MatchName(names.substr(0, end));
            if (end == std::string_view::npos)
                break;
            names.remove_prefix(end + 1);
        }
    } catch (const Exception&) {
    }
    return 0;
}
