#pragma once

// The bitmap loader accepts pictures of up to 2^31 bytes and fills a short pixel area with
// zeros; such sizes are correct but too slow for fuzzing, so inputs claiming them are passed
// over.

#include <cstddef>
#include <cstdint>

inline bool claimsHugePicture(const std::uint8_t* d, std::size_t size)
{
    if (size < 26)
        return false;
    const auto at32 = [d](std::size_t i) {
        return std::uint32_t(d[i]) | std::uint32_t(d[i + 1]) << 8 | std::uint32_t(d[i + 2]) << 16 |
               std::uint32_t(d[i + 3]) << 24;
    };
    std::uint64_t width = 0, height = 0;
    if (at32(14) == 12) {
        width = std::uint32_t(d[18] | d[19] << 8);
        height = std::uint32_t(d[20] | d[21] << 8);
    } else {
        width = std::uint64_t(std::int64_t(std::int32_t(at32(18))) < 0 ? 0 : at32(18));
        const std::int32_t h = std::int32_t(at32(22));
        height = std::uint64_t(h < 0 ? -std::int64_t(h) : std::int64_t(h));
    }
    return width * height > (std::uint64_t(1) << 22);
}
