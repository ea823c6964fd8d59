#include "platform/AtomicFile.h"
#include "tests/support/TempPrefix.h"

#include <sys/stat.h>

namespace fs = std::filesystem;

using AtomicFileTest = TempPrefixTest;

TEST_F(AtomicFileTest, ReplacesContentKeepingPermissionsAndLeavesNoTemporaryFile)
{
    const fs::path file = temp() / "data.ini";
    writeFile(file, "old");
    ::chmod(file.c_str(), 0640);
    ASSERT_TRUE(platform::writeFileAtomically(file, std::string("new\0bytes", 9)));
    EXPECT_EQ(readFile(file), std::string("new\0bytes", 9));
    struct stat st {};
    ::stat(file.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(temp()))
        ++entries;
    EXPECT_EQ(entries, 2); // the file and the test's home folder
}

TEST_F(AtomicFileTest, RefusedWritesLeaveEverythingAsItWas)
{
    const fs::path readOnlyFolder = temp() / "ro";
    fs::create_directories(readOnlyFolder);
    writeFile(readOnlyFolder / "keep.ini", "keep");
    ::chmod(readOnlyFolder.c_str(), 0555);

    const fs::path readOnlyFile = temp() / "locked.ini";
    writeFile(readOnlyFile, "locked");
    ::chmod(readOnlyFile.c_str(), 0444);

    fs::create_directories(temp() / "dir.ini");

    EXPECT_FALSE(platform::writeFileAtomically(temp() / "missing" / "a.ini", "x"));
    EXPECT_FALSE(platform::writeFileAtomically(readOnlyFolder / "keep.ini", "x"));
    EXPECT_FALSE(platform::writeFileAtomically(readOnlyFolder / "new.ini", "x"));
    EXPECT_FALSE(platform::writeFileAtomically(readOnlyFile, "x"));
    EXPECT_FALSE(platform::writeFileAtomically(temp() / "dir.ini", "x"));

    EXPECT_EQ(readFile(readOnlyFolder / "keep.ini"), "keep");
    EXPECT_FALSE(fs::exists(readOnlyFolder / "new.ini"));
    EXPECT_EQ(readFile(readOnlyFile), "locked");
    EXPECT_FALSE(fs::exists(temp() / "missing"));
}

TEST_F(AtomicFileTest, ReadsWholeFilesAndRefusesFolders)
{
    std::string bytes;
    writeFile(temp() / "a", std::string(200000, 'z'));
    ASSERT_TRUE(platform::readWholeFile(temp() / "a", bytes));
    EXPECT_EQ(bytes.size(), 200000u);
    EXPECT_FALSE(platform::readWholeFile(temp() / "nothing", bytes));
    EXPECT_FALSE(platform::readWholeFile(temp(), bytes));
}
