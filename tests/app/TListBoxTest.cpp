#include "app/TListBox.h"

#include <QSignalSpy>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TStringList listOf(const std::vector<std::string>& texts, bool sorted)
{
    TStringList list;
    list.SetDuplicates(dupAccept);
    for (const std::string& text : texts)
        list.Add(text);
    list.SetSorted(sorted);
    return list;
}

QStringList rows(const TListBox& box)
{
    QStringList shown;
    for (int row = 0; row < box.count(); ++row)
        shown << box.item(row)->text();
    return shown;
}

} // namespace

TEST(TListBoxTest, ShowsTheListInCaseInsensitiveOrderWithDuplicates)
{
    struct Case {
        const char* what;
        std::vector<std::string> texts;
        bool sorted;
        QStringList expected;
    };
    const Case cases[] = {
        {"unsorted list", {"c:\\b.jpg", "C:\\A.BMP", "c:\\a.bmp"}, false,
         {"C:\\A.BMP", "c:\\a.bmp", "c:\\b.jpg"}},
        {"sorted list", {"c:\\b.jpg", "c:\\a.bmp"}, true, {"c:\\a.bmp", "c:\\b.jpg"}},
        {"empty list", {}, false, {}},
    };
    for (const Case& c : cases) {
        TListBox box;
        box.setItems(listOf(c.texts, c.sorted));
        EXPECT_EQ(rows(box), c.expected) << c.what;
    }
}

TEST(TListBoxTest, KeepsTheBytesOfNamesThatAreNotUtf8)
{
    const std::string latin1 = "c:\\caf\xe9.bmp";
    TListBox box;
    box.setItems(listOf({latin1}, true));
    EXPECT_EQ(box.item(0)->bytes(), latin1);
    EXPECT_EQ(box.item(0)->text(), QString::fromUtf8(latin1.data(), qsizetype(latin1.size())));
}

TEST(TListBoxTest, ANewListReplacesTheRowsInOneStepAndClearsTheCurrentRow)
{
    TListBox box;
    box.setItems(listOf({"c:\\a.bmp", "c:\\b.bmp", "c:\\c.bmp"}, true));
    box.setCurrentRow(1);
    ASSERT_EQ(box.currentRow(), 1);

    QSignalSpy resets(box.model(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(box.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removals(box.model(), &QAbstractItemModel::rowsRemoved);
    box.setItems(listOf({"d:\\x.jpg", "d:\\y.jpg"}, true));

    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(inserts.count() + removals.count(), 0);
    EXPECT_EQ(box.currentRow(), -1);
    EXPECT_TRUE(box.selectionModel()->selectedIndexes().isEmpty());
    EXPECT_EQ(rows(box), QStringList({"d:\\x.jpg", "d:\\y.jpg"}));
    const auto found = box.findItems("d:\\y.jpg", Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.front().row(), 1);
}
