#include "core/CompareText.h"

#include "core/AsciiCase.h"

#include <QCollator>
#include <QString>

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

namespace core {

namespace {

const QCollator& collator()
{
    // A collator is costly to open, so each thread keeps one for the whole run.
    thread_local const QCollator instance = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        c.setNumericMode(false);
        c.setIgnorePunctuation(false);
        return c;
    }();
    return instance;
}

bool isCLocale()
{
    thread_local const bool cLocale = collator().locale().language() == QLocale::C;
    return cLocale;
}

} // namespace

namespace {

// The eight bytes at p, the first in the highest place, so that comparing two such words
// compares their bytes in order.
inline std::uint64_t wordAt(const char* p)
{
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::little)
        word = __builtin_bswap64(word);
    return word;
}

// A to Z made a to z in each byte of a word whose bytes are all below 0x80. Adding 0x3F sets a
// byte's top bit from 'A' up, adding 0x25 from '[' up; no sum carries into the next byte.
inline std::uint64_t foldWord(std::uint64_t word)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    const std::uint64_t fromA = word + 0x3F * kOnes;
    const std::uint64_t pastZ = word + 0x25 * kOnes;
    const std::uint64_t upper = fromA & ~pastZ & (0x80 * kOnes);
    return word | (upper >> 2);
}

} // namespace

// In the C locale the collator orders by code point after folding case; for ASCII texts that
// is a byte comparison of the lower-cased texts, done here without converting them, eight
// bytes at a time: sorting a long list of paths is mostly such comparisons.
int CompareAsciiFolded(std::string_view a, std::string_view b)
{
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x = wordAt(a.data() + i);
        std::uint64_t y = wordAt(b.data() + i);
        if (x == y)
            continue;
        if ((x | y) & kHighBits)
            break; // bytes beyond ASCII: compared one at a time below
        x = foldWord(x);
        y = foldWord(y);
        if (x != y)
            return x < y ? -1 : 1;
    }
    for (; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(asciiLower(a[i]));
        const unsigned char y = static_cast<unsigned char>(asciiLower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool AnsiOrderFoldsAscii()
{
    return isCLocale();
}

int AnsiCompareText(std::string_view a, std::string_view b)
{
    if (isCLocale() && isAscii(a) && isAscii(b))
        return CompareAsciiFolded(a, b);
    const QString qa = QString::fromUtf8(a.data(), qsizetype(a.size()));
    const QString qb = QString::fromUtf8(b.data(), qsizetype(b.size()));
    int result = collator().compare(qa, qb);
    if (result == 0 && qa.compare(qb, Qt::CaseInsensitive) != 0)
        // The collator may call different texts equal; fall back to their code points so that
        // only texts differing in letter case count as duplicates.
        result = qa.compare(qb, Qt::CaseInsensitive);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

void AnsiSortTexts(std::vector<std::string>& texts)
{
    if (texts.size() < 2)
        return;
    if (isCLocale() && std::all_of(texts.begin(), texts.end(),
                                   [](const std::string& text) { return isAscii(text); })) {
        // A list that is in order already, as a sorted list handed on is, stays as it is.
        const auto before = [](const std::string& a, const std::string& b) {
            return CompareAsciiFolded(a, b) < 0;
        };
        if (std::is_sorted(texts.begin(), texts.end(), before))
            return;
        // Otherwise each text is folded once and then compared byte by byte.
        std::vector<std::pair<std::string, std::size_t>> folded;
        folded.reserve(texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i)
            folded.emplace_back(AsciiLowerCase(texts[i]), i);
        std::stable_sort(folded.begin(), folded.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<std::string> sorted;
        sorted.reserve(texts.size());
        for (const auto& entry : folded)
            sorted.push_back(std::move(texts[entry.second]));
        texts = std::move(sorted);
        return;
    }
    const std::vector<std::uint32_t> order =
        AnsiSortOrder(texts.size(), [&](std::size_t i) { return std::string_view(texts[i]); });
    std::vector<std::string> sorted;
    sorted.reserve(texts.size());
    for (std::uint32_t i : order)
        sorted.push_back(std::move(texts[i]));
    texts = std::move(sorted);
}

std::vector<std::uint32_t> AnsiSortOrder(std::size_t count,
                                         const std::function<std::string_view(std::size_t)>& textAt)
{
    // Outside the C locale the collator's sort keys order texts as its comparison does; in the
    // C locale the comparison folds case and the keys do not, so the converted texts are
    // compared there. Texts that compare equal are then ordered as AnsiCompareText orders them.
    const bool useKeys = !isCLocale();
    struct Keyed {
        std::optional<QCollatorSortKey> key;
        QString text;
        std::uint32_t index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view view = textAt(i);
        QString text = QString::fromUtf8(view.data(), qsizetype(view.size()));
        std::optional<QCollatorSortKey> key;
        if (useKeys)
            key.emplace(collator().sortKey(text));
        keyed.push_back({std::move(key), std::move(text), std::uint32_t(i)});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        int result = a.key ? a.key->compare(*b.key) : collator().compare(a.text, b.text);
        if (result == 0)
            result = a.text.compare(b.text, Qt::CaseInsensitive);
        return result < 0;
    });
    std::vector<std::uint32_t> order;
    order.reserve(count);
    for (const Keyed& k : keyed)
        order.push_back(k.index);
    return order;
}

} // namespace core
