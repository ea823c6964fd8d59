#include "core/Exceptions.h"
#include "core/CompareText.h"
#include "core/TStringList.h"

#include <QCollator>

#include <gtest/gtest.h>

TEST(TStringList, UnsortedKeepsInsertionOrderAndDuplicates)
{
    TStringList list;
    EXPECT_EQ(list.Add("b"), 0);
    EXPECT_EQ(list.Add("a"), 1);
    EXPECT_EQ(list.Add("b"), 2);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list[1], "a");
    EXPECT_EQ(list.IndexOf("B"), 0);
    list.Delete(0);
    EXPECT_EQ(list[0], "a");
}

TEST(TStringList, SortedIgnoresCaseAndDropsDuplicates)
{
    TStringList list;
    list.SetSorted(true);
    for (const char* s : {"c:\\b.bmp", "C:\\A.JPG", "c:\\a\\z.bmp", "c:\\B.BMP", "c:\\a.jpg"})
        list.Add(s);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0], "C:\\A.JPG");
    EXPECT_EQ(list[2], "c:\\b.bmp");
    int index = -1;
    EXPECT_TRUE(list.Find("C:\\B.bmp", index));
    EXPECT_EQ(index, 2);
    EXPECT_FALSE(list.Find("c:\\0", index));
    EXPECT_EQ(index, 0);
}

TEST(TStringList, SortAtOnceMatchesSortedInsertion)
{
    const std::vector<std::string> input = {"zeta", "Alpha", "beta", "ALPHA", "gamma", "Beta"};
    TStringList inserted;
    inserted.SetSorted(true);
    TStringList bulk;
    for (const auto& s : input) {
        inserted.Add(s);
        bulk.Add(s);
    }
    bulk.SetSorted(true);
    EXPECT_EQ(bulk.items(), inserted.items());
}

TEST(TStringList, IndexesOutsideTheListRaiseWithTheIndex)
{
    TStringList list;
    list.Add("only");
    for (int bad : {-1, 1, 100}) {
        try {
            (void)list[bad];
            FAIL() << bad;
        } catch (const EStringListError& e) {
            EXPECT_EQ(e.Message, "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
    EXPECT_THROW(list.Delete(1), EStringListError);
    EXPECT_THROW(list.Insert(2, "x"), EStringListError);
}

TEST(AnsiCompareText, AsciiShortcutAgreesWithTheCollator)
{
    // Texts that mix case, punctuation and digits, compared both ways round; the expected
    // order is the platform collator's, whatever the locale.
    const char* texts[] = {"a_b", "aB", "A-b", "a.b", "a b", "a\\b", "a:b", "A0", "a9", "~", "Z", "",
                           "\xC3\xA9t\xC3\xA9", "ETE"};
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    for (const char* a : texts)
        for (const char* b : texts) {
            const int expected = collator.compare(QString::fromUtf8(a), QString::fromUtf8(b));
            const int got = core::AnsiCompareText(a, b);
            if (expected != 0) {
                EXPECT_EQ(got < 0, expected < 0) << a << " vs " << b;
            }
        }
}

TEST(AnsiCompareText, SortingWithKeysGivesTheOrderOfTheComparison)
{
    // ASCII alone, and mixed with accented letters, letters that fold to several, texts equal
    // but for case (whose first-come order must stay), invalid UTF-8 and empty texts.
    const std::vector<std::vector<std::string>> lists = {
        {"b.JPG", "a.bmp", "B.jpg", "A.BMP", "a_b", "aB", "A-b", "a b", "a\\b", "~", "", "Z9", "z10"},
        {"\xC3\xA9t\xC3\xA9", "ETE", "\xC3\x89T\xC3\x89", "ete", "Stra\xC3\x9F" "e", "STRASSE",
         "strasse", "caf\xE9", "caf\xC3\xA9", "CAFE", "\xE2\x84\xA6mega", "omega", "", "a", "A"},
    };
    for (const std::vector<std::string>& list : lists) {
        std::vector<std::string> expected = list;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const std::string& a, const std::string& b) {
                             return core::AnsiCompareText(a, b) < 0;
                         });
        std::vector<std::string> sorted = list;
        core::AnsiSortTexts(sorted);
        EXPECT_EQ(sorted, expected);
    }
}
