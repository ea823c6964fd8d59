#pragma once

#include <string_view>

namespace core {

// The platform's locale-aware comparison that ignores letter case: negative, zero or positive
// as a sorts before, with or after b. Texts are UTF-8. Used for sorted string lists.
int AnsiCompareText(std::string_view a, std::string_view b);

} // namespace core
