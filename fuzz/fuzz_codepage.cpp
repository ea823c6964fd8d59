// Converts arbitrary bytes between UTF-8 and one of the ANSI code pages, chosen by the first
// byte, in both directions. Whatever comes out of a decode must be well-formed UTF-8 and must
// come back the same through an encode and a decode.
#include "platform/CodePage.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

constexpr std::array<unsigned, 16> kPages = {874,  932,  936,  949,  950,  1250, 1251, 1252,
                                             1253, 1254, 1255, 1256, 1257, 1258, 65001, 437};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const platform::CodePage page(kPages[data[0] % kPages.size()]);
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);

    (void)page.encode(input);
    const std::string text = page.decode(input);
    if (platform::CodePage(65001).encode(text) != text)
        __builtin_trap(); // not well-formed UTF-8
    if (page.decode(page.encode(text)) != text)
        __builtin_trap();
    return 0;
}
