#include "imaging/PixelBytes.h"

#include "core/Exceptions.h"

#include <sys/mman.h>

void PixelBytes::allocate(std::size_t size)
{
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    const std::size_t total = kHeadroom + size;
    if (size >= 4 * kHugePage) {
        const std::size_t rounded = (total + kHugePage - 1) / kHugePage * kHugePage;
        memory_.reset(static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, rounded)));
        if (memory_)
            ::madvise(memory_.get(), rounded, MADV_HUGEPAGE);
    } else {
        memory_.reset(static_cast<std::uint8_t*>(std::malloc(total)));
    }
    if (!memory_)
        throw EOutOfResources("Out of system resources");
    size_ = size;
}
