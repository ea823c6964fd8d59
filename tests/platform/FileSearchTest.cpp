#include "platform/FileSearch.h"

#include "platform/FileAttributes.h"
#include "tests/support/TempPrefix.h"

#include <unistd.h>

#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace {

TEST(SearchPattern, FollowsThePlatformsWildcardRules)
{
    const struct {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"*.*", "README", true},      {"*.*", ".", true},
        {"*.*", "a.b.c", true},       {"*", "", true},
        {"a.*", "a", true},           {"a.*", "a.txt", true},
        {"a.*", "ab", false},         {"*.bmp", "X.BMP", true},
        {"*.bmp", "x.bmpx", false},   {"?.txt", "a.txt", true},
        {"?.txt", ".txt", false},     {"a*b*c", "aXbYc", true},
        {"a*b*c", "aXcYb", false},    {"FILE.TXT", "file.txt", true},
        {"[a].txt", "[A].TXT", true}, {"[a].txt", "a.txt", false},
        {"*a", "aaa", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::SearchPattern(c.pattern).matches(c.name), c.matches)
            << c.pattern << " / " << c.name;
}

class FileSearchTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        createDefaultPrefix();
        root = prefix() / "drive_c" / "dir";
        writeFile(root / "a.txt", "12345");
        writeFile(root / ".hidden", "");
        fs::create_directories(root / "Sub");
        fs::create_directory_symlink(root / "Sub", root / "link");
        fs::create_symlink(root / "a.txt", root / "filelink.txt");
        fs::create_symlink(root / "nowhere", root / "dangling");
    }

    struct Seen {
        std::uint32_t attributes;
        std::int64_t size;
        bool directory;
        bool operator==(const Seen&) const = default;
    };
    // The size and the attributes are read by separate calls; sizeFirst asks for them in the
    // other order.
    std::map<std::string, Seen> list(const std::string& pattern,
                                     std::vector<std::string>* order = nullptr,
                                     bool sizeFirst = false)
    {
        std::map<std::string, Seen> out;
        platform::FileSearch search;
        for (bool ok = search.findFirst(pattern); ok; ok = search.findNext()) {
            Seen& seen = out[search.name()];
            seen.directory = search.isDirectory();
            if (sizeFirst)
                seen.size = search.size();
            seen.attributes = search.attributes();
            if (!sizeFirst)
                seen.size = search.size();
            if (order)
                order->push_back(search.name());
        }
        return out;
    }

    fs::path root;
};

TEST_F(FileSearchTest, ListsDotsFirstThenEveryEntryWithAttributesAndSize)
{
    std::vector<std::string> order;
    const auto seen = list("c:\\DIR\\*.*", &order);
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[0], ".");
    EXPECT_EQ(order[1], "..");
    ASSERT_EQ(seen.size(), 8u);
    EXPECT_EQ(seen.at("a.txt").attributes, 0x20u);
    EXPECT_EQ(seen.at("a.txt").size, 5);
    EXPECT_EQ(seen.at(".hidden").attributes, 0x22u);
    EXPECT_EQ(seen.at("Sub").attributes, 0x10u);
    EXPECT_TRUE(seen.at("Sub").directory);
    EXPECT_EQ(seen.at("link").attributes, 0x410u) << "a link to a directory is a reparse point";
    EXPECT_TRUE(seen.at("link").directory);
    EXPECT_EQ(seen.at("filelink.txt").attributes, 0x20u);
    EXPECT_EQ(seen.at("filelink.txt").size, 5);
    EXPECT_EQ(seen.at("dangling").attributes, 0x20u);
    EXPECT_EQ(seen.at(".").attributes & 0x10u, 0x10u);
    EXPECT_EQ(list("c:\\DIR\\*.*", nullptr, true), seen)
        << "the size asked for alone, then the attributes, give the same details";
}

TEST_F(FileSearchTest, FiltersByPatternAndFailsForMissingDirectories)
{
    EXPECT_EQ(list("c:\\dir\\*.TXT").size(), 2u);
    EXPECT_EQ(list("c:\\dir\\sub").size(), 1u) << "a bare name finds the entry itself";
    EXPECT_TRUE(list("c:\\dir\\*.jpg").empty());
    EXPECT_TRUE(list("c:\\missing\\*.*").empty());
    EXPECT_TRUE(list("q:\\*.*").empty()) << "no such drive";
    EXPECT_TRUE(list("").empty());
    EXPECT_TRUE(list("c:\\dir\\").empty()) << "no pattern";
    platform::FileSearch search;
    EXPECT_FALSE(search.findNext()) << "find next without a search";
    search.findClose();
}

TEST_F(FileSearchTest, ListsAFolderOfManyThousandNamesWhole)
{
    // Long names, so that the folder's listing is many times what one read of it gives.
    const fs::path big = prefix() / "drive_c" / "big";
    fs::create_directories(big);
    const std::string padding(180, 'n');
    constexpr int kFiles = 3000;
    for (int i = 0; i < kFiles; ++i)
        writeFile(big / (std::to_string(i) + padding + ".jpg"), "");
    std::vector<std::string> order;
    const auto seen = list("c:\\big\\*.jpg", &order);
    EXPECT_EQ(order.size(), std::size_t(kFiles)) << "each name once";
    EXPECT_EQ(seen.size(), std::size_t(kFiles));
    EXPECT_EQ(seen.count("2999" + padding + ".jpg"), 1u);
}

TEST_F(FileSearchTest, ReportsSizesOfFourGibibytesAndMore)
{
    const std::int64_t big = (std::int64_t(4) << 30) + 1;
    {
        std::ofstream out(root / "big.bin");
    }
    if (::truncate((root / "big.bin").c_str(), big) != 0)
        GTEST_SKIP() << kNoSparseFiles;
    EXPECT_EQ(list("c:\\dir\\big.bin").at("big.bin").size, big);
}

TEST_F(FileSearchTest, TakesStoredAttributesButKeepsTheRealDirectoryBit)
{
    if (!platform::FileAttributes::set(root / "a.txt", 0x16) ||
        !platform::FileAttributes::set(root / "Sub", 0x02))
        GTEST_SKIP() << kNoExtendedAttributes;
    const auto seen = list("c:\\dir\\*");
    EXPECT_EQ(seen.at("a.txt").attributes, 0x06u);
    EXPECT_EQ(seen.at("Sub").attributes, 0x12u);
}

} // namespace
