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
    EXPECT_EQ(bulk.Texts(), inserted.Texts());
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

TEST(TStringList, KeepsEveryTextThroughLongEditsCopiesAndMoves)
{
    // Enough texts to fill many storage blocks, each with its bytes checked after every kind of
    // change: replacing and deleting (which leave unused bytes to be packed away), copying,
    // handing the texts over, and sorting with duplicates.
    auto textOf = [](int i) {
        std::string text = "c:\\folder" + std::to_string(i % 97) + "\\file" + std::to_string(i);
        if (i % 5 == 0)
            text += std::string("\0\xE9\xC3\xA9", 4); // a zero byte and bytes of any kind
        if (i % 1000 == 0)
            text += std::string(70000, char('a' + i % 26)); // longer than a block
        return text;
    };
    constexpr int kCount = 20000;
    TStringList list;
    list.Add("");
    for (int i = 0; i < kCount; ++i)
        list.Add(textOf(i));
    for (int round = 0; round < 4; ++round)
        for (int i = 0; i < kCount; i += 3)
            list.Put(i + 1, textOf(i) + "!");
    for (int i = kCount - 1; i >= 0; i -= 2)
        list.Delete(i + 1);
    ASSERT_EQ(list.Count(), 1 + kCount / 2);
    EXPECT_EQ(list[0], "");
    auto expected = [&](int row) {
        const int i = (row - 1) * 2;
        return textOf(i) + (i % 3 == 0 ? "!" : "");
    };
    for (int row = 1; row < list.Count(); ++row)
        ASSERT_EQ(list[row], expected(row)) << row;

    TStringList copy = list;
    list.Put(1, "changed");
    EXPECT_EQ(copy[1], expected(1)) << "a copy keeps its own texts";

    TStringList taken;
    taken.AddStrings(std::move(copy));
    EXPECT_EQ(copy.Count(), 0);
    ASSERT_EQ(taken.Count(), 1 + kCount / 2);
    EXPECT_EQ(taken[taken.Count() - 1], expected(taken.Count() - 1));

    // Into a list that holds texts already, the texts are added one by one, in sorted place.
    TStringList sorted;
    sorted.SetSorted(true);
    sorted.Add("C:\\FOLDER2\\FILE2");
    sorted.AddStrings(std::move(taken));
    EXPECT_EQ(sorted.Count(), 1 + kCount / 2) << "the case duplicate of file2 was dropped";
    EXPECT_EQ(sorted[0], "");
    EXPECT_TRUE(std::is_sorted(sorted.begin(), sorted.end(), [](auto a, auto b) {
        return core::AnsiCompareText(a, b) < 0;
    }));
}

TEST(TStringList, DuplicateErrorLeavesTheSortedListWhole)
{
    TStringList list;
    list.SetDuplicates(dupError);
    for (const char* s : {"b", "A", "a", "c"})
        list.Add(s);
    EXPECT_THROW(list.SetSorted(true), EStringListError);
    EXPECT_EQ(list.Texts(), (std::vector<std::string>{"A", "a", "b", "c"}));
}

TEST(AnsiCompareText, FoldedComparisonAgreesWithOneByteAtATime)
{
    // Eight bytes are compared at once; every byte value, at every place of a word, and texts
    // that differ only past a word or only in length must come out as a byte-by-byte fold.
    auto reference = [](std::string_view a, std::string_view b) {
        std::string x(a), y(b);
        for (char& c : x)
            c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
        for (char& c : y)
            c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
        const int r = x.compare(y);
        return r < 0 ? -1 : (r > 0 ? 1 : 0);
    };
    const std::string base = "C:\\Folder12\\Sub34\\file5.JPG";
    for (std::size_t place = 0; place < base.size(); ++place)
        for (int value = 1; value < 256; ++value) {
            std::string other = base;
            other[place] = char(value);
            ASSERT_EQ(core::CompareAsciiFolded(base, other), reference(base, other))
                << place << " " << value;
            ASSERT_EQ(core::CompareAsciiFolded(other, base), reference(other, base));
        }
    for (std::size_t cut = 0; cut <= base.size(); ++cut) {
        EXPECT_EQ(core::CompareAsciiFolded(base.substr(0, cut), base), cut == base.size() ? 0 : -1);
        EXPECT_EQ(core::CompareAsciiFolded("c:\\folder12\\sub34\\FILE5.jpg", base), 0);
    }
}
