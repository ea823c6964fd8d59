// Random bytes as an answer file: nothing may crash; a file that parses takes a write of the
// OEM items, and what it then writes parses again and reads back as written.

#include "core/Exceptions.h"
#include "oem/AnswerFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 16384)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        oem::AnswerFile file(bytes, "fuzz.xml");
        (void)file.read();
        oem::AnswerOemInformation items;
        items.model = "Tower & <7>";
        items.supportUrl = "http://example.com/";
        file.write(items);
        const oem::AnswerFile again(file.bytes(), "fuzz.xml");
        if (again.read().model != items.model || again.read().supportUrl != items.supportUrl)
            std::abort();
    } catch (const Exception&) {
        // Refused with a message: what bad input must get.
    }
    return 0;
}
