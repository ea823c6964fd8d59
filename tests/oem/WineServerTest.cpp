#include "oem/WineServer.h"
#include "tests/support/StockPrefix.h"
#include "tests/support/TempPrefix.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;
using oem::WineServer;

namespace {

class WineServerTest : public TempPrefixTest {
protected:
    void SetUp() override
    {
        TempPrefixTest::SetUp();
        fs::create_directories(prefix());
    }

    // "server-<dev>-<inode>" of the prefix folder, as Wine names it.
    std::string serverName() const
    {
        struct stat st {};
        EXPECT_EQ(::stat(prefix().c_str(), &st), 0);
        char name[64];
        std::snprintf(name, sizeof name, "server-%llx-%llx",
                      static_cast<unsigned long long>(st.st_dev),
                      static_cast<unsigned long long>(st.st_ino));
        return name;
    }
};

} // namespace

TEST_F(WineServerTest, LockFilesLieWhereUpstreamAndDebianWineKeepThem)
{
    const fs::path upstream =
        fs::path("/tmp") / (".wine-" + std::to_string(::getuid())) / serverName() / "lock";
    EXPECT_EQ(WineServer::lockFiles(prefix()), std::vector<fs::path>{upstream});

    const struct {
        const char* content; // of the prefix's file "wineserver"
        const char* folder;  // the folder under /tmp it names, or nullptr for none
    } cases[] = {
        {"wine-9OrFy2", "wine-9OrFy2"},
        {"wine-IWHCaY\n", "wine-IWHCaY"},
        {"  wine-x \r\nmore\n", "wine-x"},
        {"", nullptr},
        {"../etc", nullptr},
        {"/var/run/wine", nullptr},
        {"..", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        std::ofstream(prefix() / "wineserver", std::ios::trunc) << c.content;
        std::vector<fs::path> expected{upstream};
        if (c.folder)
            expected.push_back(fs::path("/tmp") / c.folder / serverName() / "lock");
        EXPECT_EQ(WineServer::lockFiles(prefix()), expected);
    }
    EXPECT_TRUE(WineServer::lockFiles(temp() / "no such prefix").empty());
}

TEST_F(WineServerTest, ARunningServerIsOneThatHoldsTheLock)
{
    stock::FakeWineServer server(prefix());
    ASSERT_FALSE(server.lockFile().empty());
    // A lock file that nobody holds is what a server leaves when it ends.
    EXPECT_FALSE(WineServer::runningFor(prefix()));
    {
        stock::LockHolder holder(server.lockFile());
        ASSERT_TRUE(holder.holding());
        EXPECT_TRUE(WineServer::runningFor(prefix()));
        try {
            WineServer::ensureNotRunning(prefix());
            ADD_FAILURE() << "a running server should be reported";
        } catch (const oem::EWineRunning& e) {
            EXPECT_EQ(e.Message, "Wine is running in this prefix. Close its programs "
                                 "(wineserver -k) and save again.");
        }
    }
    EXPECT_FALSE(WineServer::runningFor(prefix()));
    EXPECT_NO_THROW(WineServer::ensureNotRunning(prefix()));
    // Without the lock file there is no server either.
    fs::remove(server.lockFile());
    EXPECT_FALSE(WineServer::runningFor(prefix()));
}

TEST_F(WineServerTest, UpstreamWineServerFolderIsFoundToo)
{
    const fs::path root = fs::path("/tmp") / (".wine-" + std::to_string(::getuid()));
    std::error_code ec;
    const bool madeRoot = fs::create_directory(root, ec);
    if (madeRoot)
        fs::permissions(root, fs::perms::owner_all, ec);
    const fs::path folder = root / serverName();
    ASSERT_TRUE(fs::create_directory(folder, ec)) << folder;
    {
        stock::LockHolder holder(folder / "lock");
        ASSERT_TRUE(holder.holding());
        EXPECT_TRUE(WineServer::runningFor(prefix()));
    }
    EXPECT_FALSE(WineServer::runningFor(prefix()));
    fs::remove_all(folder, ec);
    if (madeRoot)
        fs::remove(root, ec);
}

// The real thing: a Wine server started for the prefix is seen until it is told to end.
TEST_F(WineServerTest, ARealWineServerIsSeenWhileItRuns)
{
    const QString program = QStandardPaths::findExecutable("wineserver");
    if (program.isEmpty())
        GTEST_SKIP() << "wineserver is not installed: apt-get install wine";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("WINEPREFIX", QString::fromStdString(prefix().string()));
    QProcess server;
    server.setProcessEnvironment(environment);
    // Persistent for a minute at most, so that a failed test leaves nothing behind for long.
    server.start(program, {"-p60"});
    ASSERT_TRUE(server.waitForStarted());
    const bool seen = QTest::qWaitFor([&] { return WineServer::runningFor(prefix()); }, 20000);
    QProcess killer;
    killer.setProcessEnvironment(environment);
    killer.start(program, {"-k"});
    killer.waitForFinished(20000);
    server.waitForFinished(20000);
    EXPECT_TRUE(seen) << "the server's lock was not found";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !WineServer::runningFor(prefix()); }, 20000));
    if (const std::string folder = readFile(prefix() / "wineserver");
        folder.starts_with("wine-") && folder.find('/') == std::string::npos) {
        std::error_code ec;
        fs::remove_all(fs::path("/tmp") / folder, ec);
    }
}
