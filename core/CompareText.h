#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace core {

// The platform's locale-aware comparison that ignores letter case: negative, zero or positive
// as a sorts before, with or after b. Texts are UTF-8. Used for sorted string lists.
int AnsiCompareText(std::string_view a, std::string_view b);

// Sorts texts in the order of AnsiCompareText, keeping texts that compare equal in the order
// they had. Each text is converted for the collator once, not at every comparison, which makes
// sorting a long list many times faster.
void AnsiSortTexts(std::vector<std::string>& texts);

} // namespace core
