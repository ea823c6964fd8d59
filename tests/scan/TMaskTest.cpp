#include "scan/TMask.h"

#include "core/Exceptions.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

namespace {

struct MatchCase {
    const char* mask;
    const char* name;
    bool matches;
};

TEST(TMask, MatchesNamesByItsWildcardsAndAsciiCase)
{
    const MatchCase cases[] = {
        {"*", "anything.at.all", true},
        {"*", "", true},
        {"", "", true},
        {"", "a", false},
        {"*.*", "README", false},
        {"*.*", "a.b", true},
        {"*.bmp", "photo.BMP", true},
        {"*.bmp", ".bmp", true},
        {"*.bmp", "a.bmp.bmp", true},
        {"*.bmp", "photo.bmpx", false},
        {"*.bmp", "photo.bm", false},
        {"?", "x", true},
        {"?", "", false},
        {"?", "xy", false},
        {"a?", "a", false},
        {"a[!b]", "a", false},
        {"a[!b]", "ac", true},
        {"a[!b]", "aB", false},
        {"*?.txt", ".txt", true},
        {"a*?", "a", true},
        {"[a-c-e]x", "dx", true},
        {"[a-c-e]x", "fx", false},
        {"[z-a]", "z", true},
        {"[z-a]", "a", false},
        {"[A-z]", "q", true},
        {"[A-z]", "_", false},
        {"[a-]]", "]", true},
        {"*.JPG", "x.jpg", true},
        {"\xE9*", "\xE9t\xE9", true},
        {"\xE9*", "\xC9t\xE9", false},
        {"a]", "A]", true},
        {"!-", "!-", true},
        {"[*?]", "?", true},
        {"[*?]", "a", false},
        {"*a*b*c", "xxaxxbxxc", true},
        {"*a*b*c", "xxaxxcxxb", false},
        {"*ab", "aab", true},
        {"*aab", "aaab", true},
        {"a*", "a", true},
        {"*[0-9]*.log", "run42.log", true},
        {"*[0-9]*.log", "run.log", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TMask(c.mask).MatchName(c.name), c.matches) << c.mask << " / " << c.name;
    // A zero byte ends a name.
    EXPECT_TRUE(TMask("ab").MatchName(std::string_view("ab\0cd", 5)));
}

struct ErrorCase {
    const char* mask;
    int position;
};

TEST(TMask, ReportsAMalformedMaskWithItsPosition)
{
    const ErrorCase cases[] = {
        {"[-a]", 2}, {"[]", 2},    {"[!]", 3}, {"[abc", 5},
        {"x[a-", 5}, {"[!-a]", 3}, {"ab[", 4}, {"[a-]", 5},
    };
    for (const auto& c : cases) {
        try {
            TMask mask(c.mask);
            ADD_FAILURE() << c.mask << " compiled";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message, "'" + std::string(c.mask) + "' is an invalid mask at (" +
                                     std::to_string(c.position) + ")");
        }
    }
}

TEST(TMask, AllowsThirtyStarredElementsAndRejectsTheThirtyFirst)
{
    std::string thirty;
    for (int i = 0; i < 30; ++i)
        thirty += "*a";
    EXPECT_NO_THROW(TMask{thirty});
    EXPECT_TRUE(TMask(thirty).MatchName(std::string(30, 'a')));

    // The 31st starred element is a literal: the error names the literal.
    try {
        TMask mask(thirty + "*b");
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "'" + thirty + "*b' is an invalid mask at (62)");
    }
    // A trailing star stars the end element, reported at the end of the text.
    try {
        TMask mask(thirty + "*");
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "'" + thirty + "*' is an invalid mask at (62)");
    }
    // A set as the 31st is reported at its "]".
    try {
        TMask mask(thirty + "*[xy]");
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "'" + thirty + "*[xy]' is an invalid mask at (65)");
    }
    // Runs of stars and a "?" dropped after a star make one starred element.
    std::string collapsed;
    for (int i = 0; i < 30; ++i)
        collapsed += "**?*a";
    EXPECT_NO_THROW(TMask{collapsed});
}

// A straightforward backtracking matcher over the compiled elements: every starred element
// may swallow any run. The compiled matcher must agree with it on every mask and name.
bool referenceMatch(const std::vector<TMaskElement>& e, std::size_t i, std::string_view name,
                    std::size_t pos)
{
    auto up = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; };
    auto test = [&](const TMaskElement& el, std::size_t p) {
        if (el.Kind == mekChar)
            return el.Ch == 0 ? p == name.size()
                              : p < name.size() && up((unsigned char)name[p]) == el.Ch;
        if (p >= name.size())
            return false;
        if (el.Kind == mekAnyChar)
            return true;
        return el.isMember((unsigned char)up((unsigned char)name[p])) != el.Negated;
    };
    if (i == e.size())
        return true;
    for (std::size_t start = pos; start <= name.size(); ++start) {
        if (test(e[i], start) && referenceMatch(e, i + 1, name, start + 1))
            return true;
        if (!e[i].StarBefore)
            break;
    }
    return false;
}

TEST(TMask, AgreesWithAnExhaustiveMatcherOnRandomMasksAndNames)
{
    std::mt19937 random(12345);
    const std::string maskAlphabet = "ab*?[]!-A.";
    const std::string nameAlphabet = "abAB.-";
    int compiled = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string mask;
        for (int k = int(random() % 8); k > 0; --k)
            mask += maskAlphabet[random() % maskAlphabet.size()];
        std::unique_ptr<TMask> m;
        try {
            m = std::make_unique<TMask>(mask);
        } catch (const Exception&) {
            continue;
        }
        ++compiled;
        for (int t = 0; t < 5; ++t) {
            std::string name;
            for (int k = int(random() % 8); k > 0; --k)
                name += nameAlphabet[random() % nameAlphabet.size()];
            ASSERT_EQ(m->MatchName(name), referenceMatch(m->Elements(), 0, name, 0))
                << "mask '" << mask << "' name '" << name << "'";
        }
    }
    EXPECT_GT(compiled, 5000);
}

} // namespace
