#include "platform/Prefault.h"

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace platform {

void prefaultPages(void* data, std::size_t size)
{
    static const std::uintptr_t pageSize = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    // Only the whole pages inside the allocation: the pages at either end may be shared with
    // other allocations, which are touched anyway.
    const auto begin = (std::uintptr_t(data) + pageSize - 1) & ~(pageSize - 1);
    const auto end = (std::uintptr_t(data) + size) & ~(pageSize - 1);
    if (data == nullptr || end <= begin)
        return;
    // Failure (an older kernel, memory short) leaves the pages to be faulted in one by one.
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

} // namespace platform
