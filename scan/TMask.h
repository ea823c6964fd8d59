#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

enum TMaskElementKind { mekChar, mekAnyChar, mekCharSet };

// One compiled step of a mask.
struct TMaskElement {
    // One or more "*" stood directly before this element.
    bool StarBefore = false;
    TMaskElementKind Kind = mekChar;
    // For mekChar: the mask character, upper-cased; 0 in the end element.
    unsigned char Ch = 0;
    // For mekCharSet: the set began with "!".
    bool Negated = false;
    // For mekCharSet: the member characters, upper-cased, one bit per byte value.
    std::array<std::uint64_t, 4> Members{};

    bool isMember(unsigned char c) const { return (Members[c >> 6] >> (c & 63)) & 1; }
};

// A file-name wildcard, compiled once and then tested against any number of bare names.
// "*" is any run of characters, "?" exactly one, "[...]" a set with ranges and "!" for
// negation; every other byte stands for itself. Only the letters a to z fold to upper case.
// A malformed mask raises Exception "'%s' is an invalid mask at (%d)" from the constructor.
class TMask {
public:
    static constexpr int MaxStarredElements = 30;

    explicit TMask(std::string_view mask);

    bool MatchName(std::string_view name) const;

    const std::vector<TMaskElement>& Elements() const { return elements_; }

private:
    std::vector<TMaskElement> elements_;
};
