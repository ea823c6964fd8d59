#include "platform/AtomicFile.h"
#include "tests/support/TempPrefix.h"

#include <cerrno>
#include <pwd.h>
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

    // A file of another user, replaced by root, stays that user's.
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() == 0 && nobody) {
        ASSERT_EQ(::chown(file.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_TRUE(platform::writeFileAtomically(file, "newer"));
        ::stat(file.c_str(), &st);
        EXPECT_EQ(st.st_uid, nobody->pw_uid);
        EXPECT_EQ(st.st_gid, nobody->pw_gid);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
    }
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

// A link in a file's own place is followed only when the running user owns it and it leads to
// a regular file inside the system; otherwise writing, reading and removing through it are
// refused and what it leads to keeps its bytes.
TEST_F(AtomicFileTest, LinksInAFilesPlaceAreFollowedOnlyByTheRule)
{
    createDefaultPrefix();
    const fs::path link = windowsDir() / "system" / "oeminfo.ini";
    const fs::path inside = windowsDir() / "real.ini";
    const fs::path outside = temp() / "outside.ini";
    const passwd* nobody = ::getpwnam("nobody");
    struct Case {
        const char* name;
        fs::path target;
        platform::Links links;
        bool otherOwner;
        bool followed;
    };
    const std::vector<Case> cases = {
        {"own link into the system", inside, platform::Links::WithinSystem, false, true},
        {"own link out of the system", outside, platform::Links::WithinSystem, false, false},
        {"another user's link into the system", inside, platform::Links::WithinSystem, true,
         false},
        {"own link where links are refused", inside, platform::Links::Refuse, false, false},
        {"dangling link", windowsDir() / "gone.ini", platform::Links::WithinSystem, false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.otherOwner && (::geteuid() != 0 || !nobody))
            continue; // only root can give a link to another user
        writeFile(inside, "inside");
        writeFile(outside, "outside");
        fs::remove(link);
        fs::create_symlink(c.target, link);
        if (c.otherOwner) {
            ASSERT_EQ(::lchown(link.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
        const std::string before = fs::exists(c.target) ? readFile(c.target) : "";

        EXPECT_EQ(platform::refusesLink(link, c.links), !c.followed);
        std::string bytes;
        EXPECT_EQ(platform::readWholeFile(link, bytes, c.links), c.followed);
        errno = 0;
        EXPECT_EQ(platform::writeFileAtomically(link, "new", c.links), c.followed);
        if (!c.followed) {
            EXPECT_EQ(errno, ELOOP);
        }
        EXPECT_TRUE(fs::is_symlink(link));
        if (fs::exists(c.target)) {
            EXPECT_EQ(readFile(c.target), c.followed ? "new" : before);
        }
        // Removing takes the link itself away, never what it leads to.
        EXPECT_EQ(platform::removeFile(link, c.links), c.followed);
        EXPECT_EQ(fs::is_symlink(fs::symlink_status(link)), !c.followed);
        if (fs::exists(c.target)) {
            EXPECT_EQ(readFile(c.target), c.followed ? "new" : before);
        }
    }
    // A folder of the system turned into a link out of it is not entered, by anyone.
    fs::create_directories(temp() / "elsewhere");
    fs::rename(windowsDir() / "system", temp() / "old-system");
    fs::create_directory_symlink(temp() / "elsewhere", windowsDir() / "system");
    errno = 0;
    EXPECT_FALSE(platform::writeFileAtomically(link, "new"));
    EXPECT_EQ(errno, ELOOP);
    EXPECT_TRUE(fs::is_empty(temp() / "elsewhere"));
}
