// Reads arbitrary bytes as a stored icon list and as an icon file: damaged data must fail with
// the system's own errors, never crash or hang.
#include "core/Exceptions.h"
#include "shell/IcoList.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        TIconList list;
        list.ReadData(bytes);
        (void)list.WriteData();
    } catch (const Exception&) {
    }
    try {
        TIcon icon;
        icon.LoadFromBytes(bytes);
        (void)icon.toImage();
    } catch (const Exception&) {
    }
    return 0;
}
