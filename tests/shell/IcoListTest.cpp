#include "shell/IcoList.h"

#include "core/Exceptions.h"
#include "core/TStringList.h"
#include "shell/CrestwickIcon.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

namespace {

void put32(std::string& out, std::int32_t value)
{
    for (int i = 0; i < 4; ++i)
        out += char((std::uint32_t(value) >> (8 * i)) & 0xFF);
}

// A one-image icon file: 1 by 1 pixel, 24 bits, in the given colour (blue, green, red).
std::string tinyIcon(std::uint8_t blue, std::uint8_t green, std::uint8_t red)
{
    std::string out;
    out += std::string("\0\0\1\0\1\0", 6);          // reserved, type icon, one image
    out += std::string("\1\1\0\0\1\0\x18\0", 8);    // 1x1, no palette, 1 plane, 24 bits
    put32(out, 40 + 4 + 4);                         // image length
    put32(out, 22);                                 // image offset
    put32(out, 40);                                 // header size
    put32(out, 1);                                  // width
    put32(out, 2);                                  // height: colour and mask rows
    out += std::string("\1\0\x18\0", 4);            // planes, bits per pixel
    out += std::string(24, '\0');                   // compression .. important colours
    out += std::string{char(blue), char(green), char(red), '\0'}; // the pixel, row padding
    out += std::string(4, '\0');                    // mask row: opaque
    return out;
}

std::unique_ptr<TIcon> icon(std::string bytes)
{
    auto result = std::make_unique<TIcon>();
    result->LoadFromBytes(bytes);
    return result;
}

struct ChangeCounter {
    int count = 0;
    void attach(TIconList& list)
    {
        list.OnChange = [this](TIconList*) { ++count; };
    }
};

TEST(TIconTest, DecodesTheProgramIconWithTransparentCornersAndSolidMiddle)
{
    TIcon crest;
    crest.LoadFromBytes(CrestwickIconBytes());
    ASSERT_EQ(crest.Width(), 32);
    ASSERT_EQ(crest.Height(), 32);
    const QImage image = crest.toImage();
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(31, 31)), 0);
    EXPECT_EQ(qAlpha(image.pixel(16, 20)), 255);
    EXPECT_EQ(crest.SaveToBytes(), CrestwickIconBytes());
    // Sixteen colours at four bits a pixel.
    EXPECT_EQ(CrestwickIconBytes()[6 + 2], 16);
    EXPECT_EQ(CrestwickIconBytes()[6 + 6], 4);
}

TEST(TIconTest, RejectsDamagedIconFilesAndKeepsTheOldImage)
{
    const std::string good = tinyIcon(1, 2, 3);
    std::string badType = good;
    badType[2] = 2; // a cursor file
    std::string pastEnd = good;
    pastEnd[18] = 100; // image offset beyond the file
    std::string badDepth = good;
    badDepth[22 + 14] = 7;
    std::string hugeWidth = good;
    hugeWidth[22 + 6] = 0x7F; // a width far beyond any icon
    const std::string cases[] = {"", good.substr(0, 5), badType, pastEnd, badDepth, hugeWidth,
                                 good.substr(0, good.size() - 6)};
    TIcon target;
    target.LoadFromBytes(good);
    for (const std::string& bytes : cases) {
        try {
            target.LoadFromBytes(bytes);
            ADD_FAILURE() << "accepted " << bytes.size() << " bytes";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message, "Icon image is not valid");
        }
        EXPECT_EQ(target.SaveToBytes(), good);
    }
}

TEST(TIconListTest, ClearingThreeIconsRaisesOneChange)
{
    TIconList list;
    for (int i = 0; i < 3; ++i)
        list.Add(icon(tinyIcon(std::uint8_t(i), 0, 0)).get());
    ChangeCounter changes;
    changes.attach(list);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(changes.count, 1);
}

TEST(TIconListTest, EachOperationOutsideAnUpdateRaisesOneChange)
{
    TIconList list;
    ChangeCounter changes;
    changes.attach(list);
    auto a = icon(tinyIcon(1, 1, 1));
    auto b = icon(tinyIcon(2, 2, 2));
    list.Add(a.get());
    list.Insert(0, b.get());
    list.Exchange(0, 1);
    list.Move(0, 1);
    list.Delete(0);
    EXPECT_EQ(changes.count, 5);
    list.OpenUpdate();
    list.Add(a.get());
    list.Add(b.get());
    EXPECT_EQ(changes.count, 5);
    list.CloseUpdate();
    EXPECT_EQ(changes.count, 6);
}

TEST(TIconListTest, PutAtCountAppendsACopyAndEditingAnEntryRaisesAChange)
{
    TIconList list;
    auto given = icon(tinyIcon(9, 9, 9));
    list.Put(0, given.get());
    ASSERT_EQ(list.Count(), 1);
    EXPECT_NE(list.Icons(0), given.get());
    EXPECT_EQ(list.Icons(0)->SaveToBytes(), given->SaveToBytes());
    EXPECT_EQ(list.IndexOf(given.get()), -1);
    EXPECT_EQ(list.IndexOf(list.Icons(0)), 0);

    ChangeCounter changes;
    changes.attach(list);
    list.Icons(0)->LoadFromBytes(tinyIcon(1, 2, 3));
    EXPECT_EQ(changes.count, 1);
}

TEST(TIconListTest, IndexOutsideTheListRaisesListError)
{
    TIconList list;
    try {
        list.Icons(5);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message, "List index out of bounds (5)");
    }
    EXPECT_THROW(list.Delete(-1), EListError);
}

TEST(TIconListTest, AssigningATextListFailsAndLeavesTheListAlone)
{
    TIconList list;
    list.Add(icon(tinyIcon(1, 1, 1)).get());
    TIcon* kept = list.Icons(0);
    TStringList strings;
    try {
        list.Assign(&strings);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message, "Cannot assign a TStringList to a TIconList");
    }
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Icons(0), kept);
}

TEST(TIconListTest, AssignCopiesListsAndSingleIcons)
{
    TIconList source;
    source.Add(icon(tinyIcon(1, 1, 1)).get());
    source.Add(icon(tinyIcon(2, 2, 2)).get());
    TIconList copy;
    ChangeCounter changes;
    changes.attach(copy);
    copy.Assign(&source);
    ASSERT_EQ(copy.Count(), 2);
    EXPECT_EQ(copy.Icons(1)->SaveToBytes(), tinyIcon(2, 2, 2));
    EXPECT_EQ(changes.count, 1);
    copy.Assign(source.Icons(0));
    EXPECT_EQ(copy.Count(), 1);
    copy.Assign(static_cast<const TIconList*>(nullptr));
    EXPECT_EQ(copy.Count(), 0);
}

TEST(TIconListTest, StoredFormRoundTripsWithAnEmptyEntry)
{
    const std::string first = tinyIcon(1, 2, 3), last = CrestwickIconBytes();
    std::string stored;
    put32(stored, 3);
    put32(stored, std::int32_t(first.size()));
    stored += first;
    put32(stored, 0); // an empty entry
    put32(stored, std::int32_t(last.size()));
    stored += last;

    TIconList list;
    ChangeCounter changes;
    changes.attach(list);
    list.ReadData(stored);
    EXPECT_EQ(changes.count, 1);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Icons(1), nullptr);
    EXPECT_EQ(list.Icons(2)->Width(), 32);
    EXPECT_EQ(list.WriteData(), stored);
    EXPECT_TRUE(list.ShouldStore(nullptr));
}

TEST(TIconListTest, StoredEmptyListReadsBackEmptyWithOneChange)
{
    TIconList list;
    list.Add(icon(tinyIcon(1, 1, 1)).get());
    ChangeCounter changes;
    changes.attach(list);
    list.ReadData(std::string(4, '\0'));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(list.WriteData(), std::string(4, '\0'));
    EXPECT_FALSE(list.ShouldStore(nullptr));
}

TEST(TIconListTest, DamagedStoredFormFailsAndLeavesTheListAsItWas)
{
    const std::string good = tinyIcon(1, 2, 3);
    std::string truncated;
    put32(truncated, 2);
    put32(truncated, std::int32_t(good.size()));
    truncated += good;
    put32(truncated, 100); // claims more than follows
    truncated += "abc";
    std::string hugeCount;
    put32(hugeCount, 0x7FFFFFFF);
    std::string badIcon;
    put32(badIcon, 1);
    put32(badIcon, 6);
    badIcon += "nonsen";
    std::string shortCount = "\1\0";

    TIconList list;
    list.Add(icon(good).get());
    TIcon* kept = list.Icons(0);
    ChangeCounter changes;
    changes.attach(list);
    for (const std::string& bytes : {truncated, hugeCount, badIcon, shortCount}) {
        EXPECT_THROW(list.ReadData(bytes), Exception);
        ASSERT_EQ(list.Count(), 1);
        EXPECT_EQ(list.Icons(0), kept);
    }
    EXPECT_EQ(changes.count, 0);
}

TEST(TIconListTest, ShouldStoreComparesEntriesWithTheAncestor)
{
    TIconList ancestor, list;
    EXPECT_FALSE(list.ShouldStore(&ancestor));
    ancestor.Add(icon(tinyIcon(1, 1, 1)).get());
    list.Add(ancestor.Icons(0));
    // Entries are compared as objects: a copy is another object.
    EXPECT_TRUE(list.ShouldStore(&ancestor));
    EXPECT_FALSE(ancestor.ShouldStore(&ancestor));
}

} // namespace
