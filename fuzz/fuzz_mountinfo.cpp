// Random bytes as the kernel's mount table: nothing may crash, and every name the table keeps
// must answer as a mount point's name.
#include "platform/VirtualFilesystems.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const platform::VirtualFilesystems table = platform::VirtualFilesystems::fromMountInfo(text);
    (void)table.mayBeMountPoint(text.substr(0, size / 2));
    (void)table.isVirtualDevice(0, 0);
    return 0;
}
