#include "core/CompareText.h"

#include "core/AsciiCase.h"

#include <QCollator>
#include <QString>

#include <algorithm>
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

// In the C locale the collator orders by code point after folding case; for ASCII texts that
// is a byte comparison of the lower-cased texts, done here without converting them.
int compareAsciiFolded(std::string_view a, std::string_view b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(asciiLower(a[i]));
        const unsigned char y = static_cast<unsigned char>(asciiLower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool isCLocale()
{
    thread_local const bool cLocale = collator().locale().language() == QLocale::C;
    return cLocale;
}

} // namespace

int AnsiCompareText(std::string_view a, std::string_view b)
{
    if (isCLocale() && isAscii(a) && isAscii(b))
        return compareAsciiFolded(a, b);
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
            return compareAsciiFolded(a, b) < 0;
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
    // Outside the C locale the collator's sort keys order texts as its comparison does; in the
    // C locale the comparison folds case and the keys do not, so the converted texts are
    // compared there. Texts that compare equal are then ordered as AnsiCompareText orders them.
    const bool useKeys = !isCLocale();
    struct Keyed {
        std::optional<QCollatorSortKey> key;
        QString text;
        std::size_t index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        QString text = QString::fromUtf8(texts[i].data(), qsizetype(texts[i].size()));
        std::optional<QCollatorSortKey> key;
        if (useKeys)
            key.emplace(collator().sortKey(text));
        keyed.push_back({std::move(key), std::move(text), i});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        int result = a.key ? a.key->compare(*b.key) : collator().compare(a.text, b.text);
        if (result == 0)
            result = a.text.compare(b.text, Qt::CaseInsensitive);
        return result < 0;
    });
    std::vector<std::string> sorted;
    sorted.reserve(texts.size());
    for (const Keyed& k : keyed)
        sorted.push_back(std::move(texts[k.index]));
    texts = std::move(sorted);
}

} // namespace core
