#include "core/CompareText.h"

#include <QCollator>
#include <QString>

namespace core {

int AnsiCompareText(std::string_view a, std::string_view b)
{
    // A collator is costly to open, so each thread keeps one for the whole run.
    thread_local const QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        c.setNumericMode(false);
        c.setIgnorePunctuation(false);
        return c;
    }();
    const QString qa = QString::fromUtf8(a.data(), qsizetype(a.size()));
    const QString qb = QString::fromUtf8(b.data(), qsizetype(b.size()));
    int result = collator.compare(qa, qb);
    if (result == 0 && qa.compare(qb, Qt::CaseInsensitive) != 0)
        // The collator may call different texts equal; fall back to their code points so that
        // only texts differing in letter case count as duplicates.
        result = qa.compare(qb, Qt::CaseInsensitive);
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

} // namespace core
