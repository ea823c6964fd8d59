#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// The order AnsiSortTexts gives, as the indexes of the texts in sorted order; textAt(i) is the
// i-th of count texts.
std::vector<std::uint32_t>
AnsiSortOrder(std::size_t count, const std::function<std::string_view(std::size_t)>& textAt);

// True where AnsiCompareText orders two ASCII texts as CompareAsciiFolded does (in the C
// locale), so that a long list of them can be sorted without converting a single text.
bool AnsiOrderFoldsAscii();
// Compares the bytes of two texts after folding A to Z to a to z.
int CompareAsciiFolded(std::string_view a, std::string_view b);

} // namespace core
