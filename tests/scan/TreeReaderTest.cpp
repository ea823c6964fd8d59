#include "scan/TreeReader.h"

#include "platform/FileAttributes.h"

#include "tests/support/TempPrefix.h"

#include <algorithm>
#include <atomic>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

class TreeReaderTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
        fs::remove_all(c() / "WINDOWS");
    }
    fs::path c() const { return prefix() / "drive_c"; }
    static bool wantsBmp(std::string_view name)
    {
        return name.size() > 4 && name.substr(name.size() - 4) == ".bmp";
    }
};

TEST_F(TreeReaderTest, ListsEveryEntryWithDetailsForWantedNamesAndFoldersToEnter)
{
    writeFile(c() / "a.bmp", "12345");
    writeFile(c() / "b.txt", "1");
    fs::create_directories(c() / "sub" / "deep");
    fs::create_directory_symlink(c() / "sub", c() / "link");
    TreeReader reader(wantsBmp, true, true, {});
    const auto start = reader.start("c:\\*.*");
    const TreeReader::Listing listing = reader.take(*start, [] { return true; });
    ASSERT_TRUE(listing.found);
    std::set<std::string> names;
    for (const TreeReader::Entry& e : listing.entries) {
        names.insert(e.name);
        EXPECT_EQ(e.wanted, e.name == "a.bmp") << e.name;
        if (e.name == "a.bmp") {
            EXPECT_EQ(e.size, 5);
            EXPECT_EQ(e.attributes, platform::kAttrArchive);
        }
        // Only the real folder is entered: never the dots, never a link to a folder.
        EXPECT_EQ(e.below != nullptr, e.name == "sub") << e.name;
        if (e.name == "sub") {
            const TreeReader::Listing below = reader.take(*e.below, [] { return true; });
            EXPECT_TRUE(std::any_of(below.entries.begin(), below.entries.end(),
                                    [](const auto& b) { return b.name == "deep" && b.below; }));
        }
    }
    EXPECT_EQ(names, (std::set<std::string>{".", "..", "a.bmp", "b.txt", "sub", "link"}));

    TreeReader flat(wantsBmp, true, false, {});
    const auto top = flat.start("c:\\*.*");
    for (const TreeReader::Entry& e : flat.take(*top, [] { return true; }).entries)
        EXPECT_EQ(e.below, nullptr) << "nothing is entered when not recursive";

    // A walk that tests no attribute gets sizes without attributes.
    TreeReader sizesOnly(wantsBmp, false, false, {});
    const TreeReader::Listing sizes =
        sizesOnly.take(*sizesOnly.start("c:\\*.*"), [] { return true; });
    for (const TreeReader::Entry& e : sizes.entries)
        if (e.name == "a.bmp")
            EXPECT_TRUE(e.wanted && e.size == 5 && e.attributes == 0);
}

TEST_F(TreeReaderTest, AWalkThatGivesUpStopsReadingALargeFolder)
{
    // Reading a folder of thousands of entries asks the walk whether to go on every few
    // hundred, so that a stop acts without the whole folder being read first.
    for (int i = 0; i < 3000; ++i)
        writeFile(c() / ("f" + std::to_string(i) + ".bmp"), "x");
    TreeReader reader(wantsBmp, true, true, {});
    const auto start = reader.start("c:\\*.*");
    std::atomic<int> polls{0};
    const TreeReader::Listing listing = reader.take(*start, [&] {
        ++polls;
        return false;
    });
    EXPECT_GE(polls.load(), 1);
    EXPECT_LT(listing.entries.size(), 1000u);

    const TreeReader::Listing whole =
        TreeReader(wantsBmp, true, true, {}).take(*reader.start("c:\\*.*"), [] { return true; });
    EXPECT_EQ(whole.entries.size(), 3002u);
}

} // namespace
