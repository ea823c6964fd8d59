#pragma once

#include <cstddef>

namespace platform {

// Maps in the memory pages of a fresh allocation of size bytes at data in one call, before
// they are written, instead of taking one page fault per page as they are first touched. On
// a virtual machine a page fault costs several microseconds, so a buffer of a few megabytes
// filled page by page pays milliseconds for its faults alone. Does nothing where the kernel
// cannot (before Linux 5.14) or for less than a page; the memory's contents never change.
void prefaultPages(void* data, std::size_t size);

} // namespace platform
