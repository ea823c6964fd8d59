#include "app/TStatusBar.h"
#include "app/Unit1.h"
#include "controls/AdvImage.h"
#include "controls/TRxSpeedButton.h"
#include "desktop/TApplication.h"
#include "imaging/TBitmap.h"
#include "oem/OemSystem.h"
#include "platform/ScreenDepth.h"
#include "platform/TRegistry.h"
#include "tests/imaging/BmpBytes.h"
#include "tests/imaging/JpegFixtures.h"
#include "tests/support/StockPrefix.h"
#include "tests/support/TempPrefix.h"
#include "tests/support/TestHive.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iconv.h>
#include <iterator>
#include <pwd.h>
#include <random>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Starts the real program with the test's WINEPREFIX, its output going to files; arguments go
// to it as bytes. limitKb, when given, caps its address space. -1 when it could not start.
pid_t startTool(const std::vector<std::string>& args, const fs::path& out, const fs::path& err,
                int limitKb = 0)
{
    std::vector<std::string> argv = {CRESTWICK_OEM_TOOL};
    if (limitKb > 0)
        argv = {"/bin/sh", "-c", "ulimit -v " + std::to_string(limitKb) + " && exec \"$0\" \"$@\"",
                CRESTWICK_OEM_TOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& arg : argv)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // The tool needs no display: it runs without one, and without Qt's platform setting.
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view name(*entry, std::strcspn(*entry, "="));
        if (name != "QT_QPA_PLATFORM" && name != "DISPLAY" && name != "WAYLAND_DISPLAY")
            environment.push_back(*entry);
    }
    environment.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environment.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit status of a started program; -1 when it did not exit by itself.
int waitForTool(pid_t pid)
{
    int status = 0;
    if (pid < 0)
        return -1;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the program to its end and collects its output, in files beside the prefix.
Result runTool(const std::vector<std::string>& args, int limitKb = 0)
{
    const fs::path out = fs::current_path() / "tool.out";
    const fs::path err = fs::current_path() / "tool.err";
    Result result;
    result.status = waitForTool(startTool(args, out, err, limitKb));
    result.out = readAll(out);
    result.err = readAll(err);
    return result;
}

enum class Kind { Nt9x, Nt5, Nt6 };

// The key of the NT 6 OEM values below HKEY_LOCAL_MACHINE.
constexpr const char* kOemInformationKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\OEMInformation";

const char* const kInfo = "[general]\r\nManufacturer=Acme\r\nModel=Box 1\r\n"
                          "[Support Information]\r\nLine1=Call us\r\nLine2=Any day\r\n"
                          "Line3=Kept line\r\n";

std::string registryString(const std::string& name)
{
    TRegistry registry;
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(kOemInformationKey, false) || !registry.ValueExists(name))
        return "(missing)";
    return registry.ReadString(name);
}

unsigned modeOf(const fs::path& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0;
}

// Every entry below folder with its kind, except the tool's own output files.
std::string listTree(const fs::path& folder)
{
    std::string list;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "tool.out" && name != "tool.err")
            list += entry.path().string() + (entry.is_symlink() ? " link\n" : "\n");
    }
    return list;
}

} // namespace

// A temporary system of one generation, with a known oeminfo.ini (and on NT 6 known
// OEMInformation values).
class CrestwickOemTest : public TempPrefixTest, public ::testing::WithParamInterface<Kind> {
protected:
    void makeSystem(Kind kind)
    {
        if (kind == Kind::Nt9x) {
            createDefaultPrefix();
            systemFolder = windowsDir() / "system";
        } else {
            if (kind == Kind::Nt5) {
                stock::makeNt5(prefix());
                systemFolder = prefix() / "drive_c" / "windows" / "System32";
            } else {
                stock::makeNt6(prefix());
                systemFolder = prefix() / "drive_c" / "windows" / "system32";
                if (!setValues())
                    ADD_FAILURE() << "the program could not set the NT 6 values";
            }
        }
        fs::create_directories(systemFolder);
        writeFile(infoFile(), kInfo);
    }
    bool setValues()
    {
        // The values the System Properties sheet shows on NT 6, through the program itself.
        const Result result = runTool({"set", "--manufacturer", "Acme", "--model", "Box 1"});
        writeFile(infoFile(), kInfo);
        return result.status == 0;
    }
    fs::path infoFile() const { return systemFolder / "oeminfo.ini"; }
    fs::path logoFile() const { return systemFolder / "oemlogo.bmp"; }

    // Everything a command may change, to compare before and after.
    std::string state()
    {
        std::string s = fs::exists(infoFile()) ? readFile(infoFile()) : "(no ini)";
        s += "|" + (fs::exists(logoFile()) ? readFile(logoFile()) : "(no logo)");
        s += "|" + readFile(prefix() / "system.reg");
        return s;
    }

    fs::path systemFolder;
};

TEST_P(CrestwickOemTest, ShowPrintsTheGenerationAndTheValuesAsTextAndJson)
{
    makeSystem(GetParam());
    const char* generation = GetParam() == Kind::Nt9x  ? "9x"
                             : GetParam() == Kind::Nt5 ? "NT 5"
                                                       : "NT 6+";

    const Result text = runTool({"show"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find(std::string("Generation:          ") + generation), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("Box 1"), std::string::npos);

    const Result json = runTool({"show", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    QJsonParseError error;
    const QJsonObject object =
        QJsonDocument::fromJson(QByteArray::fromStdString(json.out), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << json.out;
    EXPECT_EQ(object["generation"].toString().toStdString(), generation);
    EXPECT_EQ(object["manufacturer"].toString(), "Acme");
    EXPECT_EQ(object["model"].toString(), "Box 1");
    EXPECT_EQ(object["line1"].toString(), "Call us");
    EXPECT_EQ(object["line2"].toString(), "Any day");
    EXPECT_FALSE(object["logo"].toObject()["exists"].toBool());
    EXPECT_TRUE(object["windowsDirectory"].toString().endsWith("\\"));
}

TEST_P(CrestwickOemTest, SetChangesOnlyTheGivenFieldAndKeepsItsBytes)
{
    makeSystem(GetParam());
    // Text from the command line is UTF-8; oeminfo.ini holds it in the system's code page.
    const Result result = runTool({"set", "--model", "Mod\xc3\xa8le 2"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out.empty() && result.err.empty());

    std::string expected = kInfo;
    expected.replace(expected.find("Box 1"), 5, "Mod\xe8le 2");
    EXPECT_EQ(readFile(infoFile()), expected);
    if (GetParam() == Kind::Nt6) {
        // The registry keeps Unicode text: a UTF-8 model arrives there unchanged.
        const std::string utf8 = "Mod\xc3\xa8le 3";
        ASSERT_EQ(runTool({"set", "--model", utf8}).status, 0);
        EXPECT_EQ(registryString("Model"), utf8);
        EXPECT_EQ(registryString("Manufacturer"), "Acme");
    }
    const Result verbose = runTool({"set", "--line2", "Nights too", "--verbose"});
    EXPECT_EQ(verbose.status, 0);
    EXPECT_FALSE(verbose.out.empty());
}

TEST_P(CrestwickOemTest, SetReadsAnArgumentThatIsNotUtf8InTheSystemsCodePage)
{
    makeSystem(GetParam());
    // Latin-1 "Müller" from a terminal of a Western system, a UTF-8 "Café" beside a Latin-1
    // "ü", and a byte that Windows-1252 does not define.
    const Result result = runTool(
        {"set", "--manufacturer", "M\xFCller", "--model", "Caf\xC3\xA9 \xFC", "--line1", "x\x81y"});
    ASSERT_EQ(result.status, 0) << result.err;

    std::string expected = kInfo;
    expected.replace(expected.find("Acme"), 4, "M\xFCller");
    expected.replace(expected.find("Box 1"), 5, "Caf\xE9 \xFC");
    expected.replace(expected.find("Call us"), 7, "x?y");
    EXPECT_EQ(readFile(infoFile()), expected);
    if (GetParam() == Kind::Nt6) {
        EXPECT_EQ(registryString("Manufacturer"), "M\xC3\xBCller");
        EXPECT_EQ(registryString("Model"), "Caf\xC3\xA9 \xC3\xBC");
    }
    const Result shown = runTool({"show", "--json"});
    EXPECT_NE(shown.out.find("\"manufacturer\":\"M\xC3\xBCller\""), std::string::npos) << shown.out;
}

// Backup, then changes of every kind, then restore gives back the whole state: the files
// byte for byte and every OEMInformation value, those that did not exist included.
TEST_P(CrestwickOemTest, BackupThenChangesThenRestoreGivesBackTheWholeState)
{
    makeSystem(GetParam());
    if (GetParam() == Kind::Nt6) {
        // A text that is not ASCII and a value that saves never write.
        ASSERT_EQ(runTool({"set", "--model", "Mod\xc3\xa8le \"1\" \\ x"}).status, 0);
        TRegistry registry;
        registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
        ASSERT_TRUE(registry.OpenKey(kOemInformationKey, false));
        registry.WriteString("SupportURL", "https://example.com");
        writeFile(infoFile(), kInfo);
    }
    // Everything a save or restore may change: the files and every OEMInformation value.
    const auto wholeState = [&] {
        std::string s = state().substr(0, state().rfind('|'));
        for (const char* name : {"Manufacturer", "Model", "Logo", "SupportURL"})
            s += std::string("|") + name + "=" + registryString(name);
        return s;
    };
    const std::string before = wholeState();
    const fs::path folder = temp() / "backup";
    const Result backup = runTool({"backup", folder.string()});
    ASSERT_EQ(backup.status, 0) << backup.err;

    writeFile(temp() / "new.bmp", makeBmp(BmpSpec{}));
    ASSERT_EQ(runTool({"set", "--manufacturer", "Other", "--model", "M", "--line1", "x"}).status,
              0);
    ASSERT_EQ(runTool({"logo", (temp() / "new.bmp").string()}).status, 0);
    ASSERT_TRUE(fs::exists(logoFile()));
    ASSERT_NE(wholeState(), before);

    const Result restore = runTool({"restore", folder.string()});
    ASSERT_EQ(restore.status, 0) << restore.err;
    EXPECT_EQ(wholeState(), before);
    EXPECT_FALSE(fs::exists(logoFile()));
    if (GetParam() == Kind::Nt6) {
        EXPECT_EQ(registryString("Logo"), "(missing)");
        EXPECT_EQ(registryString("Model"), "Mod\xc3\xa8le \"1\" \\ x");
    }
}

// A backup that an earlier version wrote, each registry value in a file of its own, restores
// as it was written: a value it lists as absent is deleted.
TEST_P(CrestwickOemTest, ABackupOfTheFirstFormatIsRestored)
{
    makeSystem(GetParam());
    const fs::path folder = temp() / "backup";
    fs::create_directory(folder);
    std::string manifest =
        "crestwick-oem backup 1\nfile oeminfo.ini present\nfile oemlogo.bmp absent\n";
    if (GetParam() == Kind::Nt6) {
        manifest += "value Manufacturer 1\nvalue Model 1\nvalue Logo absent\n";
        writeFile(folder / "Manufacturer.value", std::string("Acm\xc3\xa9\0", 6));
        writeFile(folder / "Model.value", std::string("M1\0", 3));
    }
    writeFile(folder / "manifest.txt", manifest);
    writeFile(folder / "oeminfo.ini", "[general]\r\nManufacturer=Old\r\n");
    writeFile(temp() / "new.bmp", makeBmp(BmpSpec{}));
    ASSERT_EQ(runTool({"logo", (temp() / "new.bmp").string()}).status, 0);

    const Result restore = runTool({"restore", folder.string()});
    ASSERT_EQ(restore.status, 0) << restore.err;
    EXPECT_EQ(readFile(infoFile()), "[general]\r\nManufacturer=Old\r\n");
    EXPECT_FALSE(fs::exists(logoFile()));
    if (GetParam() == Kind::Nt6) {
        EXPECT_EQ(registryString("Manufacturer"), "Acm\xc3\xa9");
        EXPECT_EQ(registryString("Model"), "M1");
        EXPECT_EQ(registryString("Logo"), "(missing)");
    }
}

TEST_P(CrestwickOemTest, BadInputChangesNothing)
{
    makeSystem(GetParam());
    writeFile(temp() / "notapicture.bmp", "This is text, not a bitmap.\n");
    writeFile(temp() / "notapicture.jpg", "This is text, not a JPEG.\n");
    const std::string more = " --help' for more information.\n";
    const auto usage = [&](const std::string& command, const std::string& what) {
        return "crestwick-oem: " + what + "\nTry 'crestwick-oem" +
               (command.empty() ? "" : " " + command) + more;
    };
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message; // the whole of standard error; for status 1 its start
    };
    const std::vector<Case> cases = {
        {{"logo", (temp() / "missing.bmp").string()}, 1, "crestwick-oem: Cannot open file "},
        {{"logo", (temp() / "notapicture.bmp").string()}, 1, "crestwick-oem: "},
        // The JPEG library's own words, not its message number.
        {{"logo", (temp() / "notapicture.jpg").string()},
         1,
         "crestwick-oem: " + (temp() / "notapicture.jpg").string() +
             ": Not a JPEG file: starts with 0x54 0x68\n"},
        {{"restore", (temp() / "nowhere").string()}, 1, "crestwick-oem: Cannot open file "},
        {{"set", "--colour", "red"}, 2, usage("set", "unknown option '--colour'")},
        {{"set", "--colour=red"}, 2, usage("set", "unknown option '--colour'")},
        {{"set", "-m", "red"}, 2, usage("set", "unknown option '-m'")},
        {{"set", "--model"}, 2, usage("set", "option '--model' needs TEXT")},
        {{"set", "--model=A", "--model", "B"}, 2, usage("set", "option '--model' is given twice")},
        {{"set", "--verbose"},
         2,
         usage("set", "nothing to set: give --manufacturer, --model, --line1, --line2, a "
                      "support value or --clear")},
        {{"set", "--model", "M", "--clear", "Model"},
         2,
         usage("set", "option '--clear' deletes model, which the line also sets")},
        {{"logo", "--depth", "16", "a.bmp"},
         2,
         usage("logo", "option '--depth' takes 8 or 24, not '16'")},
        {{"show", "--verbose"}, 2, usage("show", "unknown option '--verbose'")},
        {{"show", "now"}, 2, usage("show", "unexpected argument 'now'")},
        {{"logo"}, 2, usage("logo", "missing PICTURE")},
        {{"logo", "--fit=yes", "a.bmp"}, 2, usage("logo", "option '--fit' takes no value")},
        {{"logo", "a.bmp", "b.bmp"}, 2, usage("logo", "unexpected argument 'b.bmp'")},
        {{"frobnicate"}, 2, usage("", "unknown command 'frobnicate'")},
        {{"--frobnicate"}, 2, usage("", "unknown option '--frobnicate'")},
        {{}, 2, usage("", "no command given")},
    };
    const std::string before = state();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(nothing)" : c.args.back());
        const Result result = runTool(c.args);
        EXPECT_EQ(result.status, c.status);
        if (c.status == 2 || c.message.ends_with('\n'))
            EXPECT_EQ(result.err, c.message);
        else
            EXPECT_EQ(result.err.rfind(c.message, 0), 0u) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(state(), before);
    }
}

TEST_P(CrestwickOemTest, UnwritableOemFilesAreReportedAndNothingChanges)
{
    makeSystem(GetParam());
    writeFile(temp() / "new.bmp", makeBmp(BmpSpec{}));
    const std::vector<std::vector<std::string>> commands = {
        {"set", "--model", "X"}, {"logo", (temp() / "new.bmp").string()}};
    const auto expectRefused = [&](const char* how) {
        const std::string before = state();
        for (const auto& args : commands) {
            const Result result = runTool(args);
            EXPECT_EQ(result.status, 1) << how << ": " << args[0];
            const bool named = result.err.find("Unable to write to") != std::string::npos ||
                               result.err.find("Cannot create file") != std::string::npos;
            EXPECT_TRUE(named) << how << ": " << result.err;
            EXPECT_EQ(state(), before) << how << ": " << args[0];
        }
    };
    // Folders in the files' places refuse every writer, the superuser too.
    fs::remove(infoFile());
    fs::create_directory(infoFile());
    fs::create_directory(logoFile());
    expectRefused("folders in the files' places");
    fs::remove(infoFile());
    fs::remove(logoFile());
    writeFile(infoFile(), kInfo);

    if (::geteuid() != 0) {
        fs::permissions(infoFile(), fs::perms::owner_read);
        fs::permissions(systemFolder, fs::perms::owner_read | fs::perms::owner_exec);
        expectRefused("read-only system folder");
        fs::permissions(systemFolder, fs::perms::owner_all);
    }
}

TEST_P(CrestwickOemTest, TextsThatCannotBeStoredAreRefusedWithTheirReason)
{
    makeSystem(GetParam());
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string lineBreak = "' holds a line break, which an INI file cannot store\n";
    const std::vector<Case> cases = {
        {{"set", "--manufacturer", "Acme\nCorp"}, "The text for 'Manufacturer" + lineBreak},
        {{"set", "--model", "Box\r\n2"}, "The text for 'Model" + lineBreak},
        {{"set", "--model", "Box 2", "--line1", "Call\r"}, "The text for 'Line1" + lineBreak},
        {{"set", "--line2", "\nAny day"}, "The text for 'Line2" + lineBreak},
    };
    const std::string before = state();
    for (const Case& c : cases) {
        const Result result = runTool(c.args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "crestwick-oem: " + c.message);
        EXPECT_EQ(state(), before);
    }
    if (GetParam() != Kind::Nt6)
        return;
    // A registry the user may not change: the system's reason follows the message.
    fs::permissions(prefix() / "system.reg",
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const Result result = runTool({"set", "--model", "X"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "crestwick-oem: Failed to set data for 'Model': Permission denied\n");
    EXPECT_EQ(state(), before);
    // So does a file's: the folder of oeminfo.ini that may not be written.
    fs::permissions(prefix() / "system.reg", fs::perms::owner_write, fs::perm_options::add);
    fs::permissions(systemFolder, fs::perms::owner_write | fs::perms::group_write,
                    fs::perm_options::remove);
    const Result file = runTool({"set", "--line1", "X"});
    fs::permissions(systemFolder, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(file.err, "crestwick-oem: Unable to write to C:\\windows\\system32\\oeminfo.ini: "
                        "Permission denied\n");
}

// As root over a prefix that belongs to another user, as an administrator's provisioning
// loop runs: links that the prefix's owner put in the OEM files' places, leading to root-only
// files outside the prefix, are refused by every command and by the window's saves.
TEST_P(CrestwickOemTest, LinksThatAnotherUserPutInTheSystemFolderAreNeverFollowed)
{
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || !nobody)
        GTEST_SKIP() << "needs root and a user 'nobody' to own the prefix";
    makeSystem(GetParam());
    writeFile(temp() / "new.bmp", makeBmp(BmpSpec{}));
    ASSERT_EQ(runTool({"backup", (temp() / "backup").string()}).status, 0);

    const fs::path secretInfo = temp() / "root-only" / "secret.ini";
    const fs::path secretLogo = temp() / "root-only" / "secret.bmp";
    writeFile(secretInfo, "[general]\r\nManufacturer=Secret\r\n");
    writeFile(secretLogo, makeBmp(BmpSpec{}));
    for (const fs::path& secret : {secretInfo, secretLogo})
        ::chmod(secret.c_str(), 0600);
    fs::remove(infoFile());
    fs::create_symlink(secretInfo, infoFile());
    fs::create_symlink(secretLogo, logoFile());
    for (const auto& entry : fs::recursive_directory_iterator(prefix()))
        ASSERT_EQ(::lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const std::string secretBytes = readFile(secretInfo) + readFile(secretLogo);
    const std::string registry = readFile(prefix() / "system.reg");
    const auto expectUntouched = [&](const std::string& what) {
        EXPECT_EQ(readFile(secretInfo) + readFile(secretLogo), secretBytes) << what;
        EXPECT_EQ(modeOf(secretInfo), 0600u) << what;
        EXPECT_EQ(modeOf(secretLogo), 0600u) << what;
        EXPECT_TRUE(fs::is_symlink(infoFile()) && fs::is_symlink(logoFile())) << what;
        EXPECT_EQ(readFile(prefix() / "system.reg"), registry) << what;
    };

    const std::vector<std::vector<std::string>> commands = {
        {"set", "--model", "X"},
        {"logo", (temp() / "new.bmp").string()},
        {"backup", (temp() / "copy").string()},
        {"restore", (temp() / "backup").string()},
    };
    for (const auto& args : commands) {
        const Result result = runTool(args);
        EXPECT_EQ(result.status, 1) << args[0];
        EXPECT_NE(result.err.find("is a symbolic link; not followed"), std::string::npos)
            << args[0] << ": " << result.err;
        expectUntouched(args[0]);
    }
    EXPECT_FALSE(fs::exists(temp() / "copy"));

    TForm1 form;
    errors.clear();
    Application().Guard([&] { form.Button1Click(form.Button1); });
    form.Image1->SetImageName("Z:" + (temp() / "new.bmp").string());
    Application().Guard([&] { form.LedButton2Click(form.LedButton2); });
    ASSERT_EQ(errors.size(), 2u);
    for (const std::string& error : errors)
        EXPECT_NE(error.find("is a symbolic link; not followed"), std::string::npos) << error;
    expectUntouched("the window's saves");

    // The system folder itself turned into a link to a root-only folder.
    fs::rename(systemFolder, temp() / "moved");
    fs::create_directory_symlink(temp() / "root-only", systemFolder);
    ASSERT_EQ(::lchown(systemFolder.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const Result result = runTool({"set", "--model", "X"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("leads out of this system; not followed"), std::string::npos)
        << result.err;
    EXPECT_FALSE(fs::exists(temp() / "root-only" / "oeminfo.ini"));
}

// A backup is private to its owner and is never written through links; restore takes only
// what backup writes, and refuses anything else before writing a byte.
TEST_P(CrestwickOemTest, BackupsArePrivateAndRestoreRefusesWhatBackupNeverWrites)
{
    makeSystem(GetParam());
    ::chmod(infoFile().c_str(), 0600);
    const fs::path folder = temp() / "backup";
    ASSERT_EQ(runTool({"backup", folder.string()}).status, 0);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder / "oeminfo.ini"), 0600u);
    EXPECT_EQ(modeOf(folder / "manifest.txt"), 0600u);
    const Result again = runTool({"backup", folder.string()});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(
        again.err.find(folder.string() + " already holds a backup; give --force to replace it"),
        std::string::npos)
        << again.err;
    ASSERT_EQ(runTool({"backup", folder.string(), "--force"}).status, 0);

    const fs::path outside = temp() / "outside.txt";
    writeFile(outside, "keep");
    const std::string generation = GetParam() == Kind::Nt9x  ? "9x"
                                   : GetParam() == Kind::Nt5 ? "NT 5"
                                                             : "NT 6+";
    const std::string other = GetParam() == Kind::Nt9x ? "NT 5" : "9x";
    const std::string manifest = "crestwick-oem backup 2\ngeneration " + generation +
                                 "\nfile oeminfo.ini present\nfile oemlogo.bmp absent\n";
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> spoil;
        std::string message;
    };
    const auto withManifest = [&](std::string text) {
        return [text](const fs::path& copy) { writeFile(copy / "manifest.txt", text); };
    };
    const auto withValue = [&](std::string line) {
        return [line](const fs::path& copy) {
            writeFile(copy / "OEMInformation.reg",
                      "Windows Registry Editor Version 5.00\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                      "OEMInformation]\r\n" +
                          line + "\r\n");
        };
    };
    const std::vector<Case> cases = {
        {"a link in the backup",
         [&](const fs::path& copy) {
             fs::remove(copy / "oeminfo.ini");
             fs::create_symlink(outside, copy / "oeminfo.ini");
         },
         "oeminfo.ini is a symbolic link; not followed"},
        {"a value of a kind that is not text", withValue("\"Manufacturer\"=dword:00000001"),
         "holds the value Manufacturer of kind 4; only texts are restored"},
        {"a kind that is not a number", withValue("\"Model\"=hex(xyz):00,00"),
         "Not a crestwick-oem backup"},
        {"a kind that wraps past 32 bits", withValue("\"Model\"=hex(100000001):00,00"),
         "Not a crestwick-oem backup"},
        {"a value that is not an OEM value", withValue("\"Shell\"=\"x\""),
         "Not a crestwick-oem backup"},
        {"text that is not UTF-16", withValue("\"Model\"=hex(1):00,d8,00,00"),
         "Not a crestwick-oem backup"},
        {"an entry twice", withManifest(manifest + "file oeminfo.ini absent\n"),
         "Not a crestwick-oem backup"},
        {"a path in place of a name", withManifest(manifest + "file ../../etc/passwd present\n"),
         "Not a crestwick-oem backup"},
        {"a logo larger than 64 MiB",
         [&](const fs::path& copy) {
             writeFile(copy / "manifest.txt", "crestwick-oem backup 2\nfile oemlogo.bmp present\n");
             fs::resize_file((writeFile(copy / "oemlogo.bmp", "BM"), copy / "oemlogo.bmp"),
                             (std::uintmax_t(64) << 20) + 1);
         },
         "oemlogo.bmp is larger than 64 MiB"},
        {"another generation", withManifest("crestwick-oem backup 2\ngeneration " + other + "\n"),
         "was taken from a system of generation " + other + "; this system is of generation " +
             generation},
    };
    const std::string before = state();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path copy = temp() / "spoiled";
        fs::remove_all(copy);
        fs::copy(folder, copy);
        c.spoil(copy);
        const Result result = runTool({"restore", copy.string()});
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(state(), before);
    }

    // A link planted in the backup folder is never written through.
    fs::remove(folder / "oeminfo.ini");
    fs::create_symlink(outside, folder / "oeminfo.ini");
    const Result planted = runTool({"backup", folder.string(), "--force"});
    EXPECT_EQ(planted.status, 1);
    EXPECT_NE(planted.err.find("is a symbolic link; not followed"), std::string::npos)
        << planted.err;
    EXPECT_EQ(readFile(outside), "keep");
}

// A drive that leads nowhere (a link loop, a disk that is not mounted) is named, and nothing
// is written anywhere in its place, the current folder included.
TEST_P(CrestwickOemTest, AnUnresolvableDriveIsNamedAndNothingIsCreated)
{
    makeSystem(GetParam());
    writeFile(temp() / "new.bmp", makeBmp(BmpSpec{}));
    const fs::path drive = prefix() / "dosdevices" / "c:";
    for (const fs::path& target : {fs::path("c:"), temp() / "not-mounted"}) {
        fs::remove(drive);
        fs::create_directory_symlink(target, drive);
        const std::string tree = listTree(temp());
        const std::string registry = readFile(prefix() / "system.reg");
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"set", "--model", "X"},
              std::vector<std::string>{"logo", (temp() / "new.bmp").string()}}) {
            const Result result = runTool(args);
            EXPECT_EQ(result.status, 1) << args[0];
            EXPECT_NE(result.err.find("Drive C: of this system cannot be found"), std::string::npos)
                << result.err;
            EXPECT_EQ(listTree(temp()), tree) << args[0];
            EXPECT_EQ(readFile(prefix() / "system.reg"), registry) << args[0];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, CrestwickOemTest,
                         ::testing::Values(Kind::Nt9x, Kind::Nt5, Kind::Nt6), [](const auto& info) {
                             return info.param == Kind::Nt9x  ? std::string("Win9x")
                                    : info.param == Kind::Nt5 ? std::string("Nt5")
                                                              : std::string("Nt6");
                         });

TEST_F(TempPrefixTest, CrestwickOemRefusesWhileWineRunsOnNt6)
{
    stock::makeNt6(prefix());
    const std::string before = readFile(prefix() / "system.reg");
    stock::FakeWineServer server(prefix());
    stock::LockHolder wine(server.lockFile());
    ASSERT_TRUE(wine.holding());
    const Result result = runTool({"set", "--model", "X"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Wine is running in this prefix"), std::string::npos) << result.err;
    EXPECT_EQ(readFile(prefix() / "system.reg"), before);
}

TEST_F(TempPrefixTest, CrestwickOemHelpAndVersionGoToStandardOutput)
{
    const struct {
        std::vector<std::string> args;
        const char* start;
    } cases[] = {
        {{"--help"}, "Usage: crestwick-oem show [--json] [--list-images]\n"},
        {{"-h"}, "Usage: crestwick-oem show [--json] [--list-images]\n"},
        {{"set", "--help"}, "Usage: crestwick-oem set [--manufacturer TEXT]"},
        {{"logo", "x.bmp", "-h"},
         "Usage: crestwick-oem logo PICTURE [--fit] [--depth BITS] [--verbose]\n"},
        // Help wins over what would be wrong without it.
        {{"show", "--frobnicate", "-h"}, "Usage: crestwick-oem show [--json] [--list-images]\n"},
        {{"--version"}, "crestwick-oem "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const Result result = runTool(c.args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.rfind(c.start, 0), 0u) << result.out;
        EXPECT_EQ(result.err, "");
    }
    EXPECT_NE(runTool({"--help"}).out.find("crestwick-oem logo PICTURE [--fit]"),
              std::string::npos);
    EXPECT_NE(runTool({"set", "-h"}).out.find("  --line2 TEXT"), std::string::npos);
}

// Options take their values after "=" as well; "--" ends the options.
TEST_F(TempPrefixTest, CrestwickOemTakesValuesAfterAnEqualsSign)
{
    createDefaultPrefix();
    writeFile(temp() / "-logo.bmp", makeBmp(BmpSpec{}));
    const Result set = runTool({"set", "--manufacturer=Acme=Best", "--model", "--x"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(readFile(windowsDir() / "system" / "oeminfo.ini"),
              "[general]\r\nManufacturer=Acme=Best\r\nModel=--x\r\n");
    const Result logo = runTool({"logo", "--", "-logo.bmp"});
    EXPECT_EQ(logo.status, 0) << logo.err;
    EXPECT_EQ(readFile(windowsDir() / "system" / "oemlogo.bmp"), makeBmp(BmpSpec{}));
}

// A system whose files are there but cannot be read is not shown as one without them.
TEST_F(TempPrefixTest, CrestwickOemShowRefusesFilesItCannotRead)
{
    createDefaultPrefix();
    const fs::path system = windowsDir() / "system";
    const struct {
        fs::path unreadable;
        std::string named;
    } cases[] = {
        {system / "oeminfo.ini", "C:\\WINDOWS\\system\\oeminfo.ini"},
        {system / "oemlogo.bmp", "C:\\WINDOWS\\system\\oemlogo.bmp"},
        {prefix() / "system.reg", (prefix() / "system.reg").string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        // Not even the superuser reads a folder in a file's place.
        const std::string kept = fs::exists(c.unreadable) ? readFile(c.unreadable) : "";
        fs::remove(c.unreadable);
        fs::create_directory(c.unreadable);
        const Result result = runTool({"show"});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err,
                  "crestwick-oem: Cannot open file " + c.named + ": Permission denied\n");
        EXPECT_EQ(result.out, "");
        fs::remove(c.unreadable);
        if (!kept.empty())
            writeFile(c.unreadable, kept);
    }
    EXPECT_EQ(runTool({"show"}).status, 0);
}

// The logo that the program writes is the one the window's Save Logo writes for the same
// picture, with and without Resize To Fit, for bitmaps and JPEGs.
TEST_F(TempPrefixTest, CrestwickOemLogoMatchesTheWindowsSaveLogo)
{
    createDefaultPrefix();
    BmpSpec wide;
    wide.width = 300;
    wide.height = 100;
    writeFile(temp() / "pictures" / "wide.bmp", makeBmp(wide));
    writeFile(temp() / "pictures" / "photo.JPG", makeJpeg({400, 250, false, false, 90}));
    writeFile(temp() / "pictures" / "small.jpg", makeJpeg({60, 40, false, false, 90}));
    const fs::path logo = windowsDir() / "system" / "oemlogo.bmp";
    // The tool's --depth gives the bytes that the window writes on a screen of that depth; the
    // window decodes a JPEG in full colour on every screen, so an unfitted one is 24 bits.
    const struct {
        int screenBits;
        std::vector<std::string> depthArgs;
        bool fitOnly;
    } depths[] = {{24, {}, false}, {24, {"--depth", "24"}, false}, {8, {"--depth=8"}, true}};
    for (const auto& depth : depths) {
        platform::overrideScreenBitsPerPixel(depth.screenBits);
        for (const char* name : {"wide.bmp", "photo.JPG", "small.jpg"}) {
            for (const bool fit : {false, true}) {
                if (depth.fitOnly && !fit)
                    continue;
                const fs::path picture = temp() / "pictures" / name;
                std::string reference;
                {
                    TForm1 form;
                    form.Image1->SetImageName("Z:" + picture.string());
                    ASSERT_NE(form.Image1->Picture().Graphic(), nullptr) << name;
                    if (fit)
                        form.RxSpeedButton6Click(form.RxSpeedButton6);
                    form.LedButton2Click(form.LedButton2);
                    reference = readFile(logo);
                }
                fs::remove(logo);
                std::vector<std::string> args = {"logo", picture.string()};
                if (fit)
                    args.push_back("--fit");
                args.insert(args.end(), depth.depthArgs.begin(), depth.depthArgs.end());
                const Result result = runTool(args);
                ASSERT_EQ(result.status, 0) << result.err;
                EXPECT_FALSE(reference.empty());
                EXPECT_TRUE(readFile(logo) == reference)
                    << name << (fit ? " fitted" : "") << " at " << depth.screenBits << " bits";
                fs::remove(logo);
            }
        }
    }
    platform::overrideScreenBitsPerPixel(0);
}

namespace {

// The largest difference in any colour channel between two pictures of the same size; -1 when
// the sizes differ or a picture is missing.
int worstDifference(const QImage& a, const QImage& b)
{
    if (a.isNull() || b.isNull() || a.size() != b.size())
        return -1;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

// A picture file as an independent reader (Qt's) sees it.
QImage decoded(const std::string& bytes, const char* format)
{
    return QImage::fromData(QByteArray::fromStdString(bytes), format);
}

} // namespace

// Whatever its name, a picture that is loaded becomes a logo with the picture's pixels; one
// that is not loaded leaves the old logo. The tool reads a picture by its content; the window
// loads by the extension, so a misnamed file previews as "Empty" there and Save Logo refuses.
TEST_F(TempPrefixTest, EveryLoadedPictureBecomesALogoWithItsPixels)
{
    createDefaultPrefix();
    const std::string jpeg = makeJpeg({48, 32, false, false, 100});
    BmpSpec spec;
    spec.width = 7;
    spec.height = 5;
    const std::string bmp = makeBmp(spec);
    const std::string oldLogo = makeBmp(BmpSpec{});
    const fs::path logo = windowsDir() / "system" / "oemlogo.bmp";
    struct Case {
        const char* name;
        const std::string& bytes;
        const char* format; // for the independent reader
        bool windowLoadsIt;
    };
    const Case cases[] = {
        {"photo.jpeg", jpeg, "JPEG", true},
        {"photo.jpe", jpeg, "JPEG", false},
        {"photo-jpeg.bmp", jpeg, "JPEG", false},
        {"picture-bmp.jpg", bmp, "BMP", false},
    };
    // Lossy compression moves a pixel by a few steps, nothing more.
    const auto tolerance = [](const Case& c) { return std::string(c.format) == "JPEG" ? 8 : 0; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path picture = temp() / "pictures" / c.name;
        writeFile(picture, c.bytes);
        const QImage expected = decoded(c.bytes, c.format);
        ASSERT_FALSE(expected.isNull());

        writeFile(logo, oldLogo);
        const Result result = runTool({"logo", picture.string()});
        EXPECT_EQ(result.status, 0) << result.err;
        const int toolDifference = worstDifference(decoded(readFile(logo), "BMP"), expected);
        EXPECT_GE(toolDifference, 0);
        EXPECT_LE(toolDifference, tolerance(c));

        writeFile(logo, oldLogo);
        errors.clear();
        {
            TForm1 form;
            form.Image1->SetImageName("Z:" + picture.string());
            Application().Guard([&] { form.LedButton2Click(form.LedButton2); });
        }
        if (c.windowLoadsIt) {
            EXPECT_TRUE(errors.empty()) << errors.front();
            const int windowDifference = worstDifference(decoded(readFile(logo), "BMP"), expected);
            EXPECT_GE(windowDifference, 0);
            EXPECT_LE(windowDifference, tolerance(c));
        } else {
            EXPECT_EQ(errors, std::vector<std::string>{"There is no picture to save."});
            EXPECT_EQ(readFile(logo), oldLogo);
        }
    }

    // A JPEG in the preview without a name of its own (as the logo at start-up comes in) is
    // decoded too, not written as an empty bitmap.
    writeFile(logo, oldLogo);
    TForm1 form;
    form.Image1->Picture().LoadFromFile("Z:" + (temp() / "pictures" / "photo.jpeg").string());
    ASSERT_EQ(form.Image1->ImageName(), "");
    form.LedButton2Click(form.LedButton2);
    const int difference = worstDifference(decoded(readFile(logo), "BMP"), decoded(jpeg, "JPEG"));
    EXPECT_GE(difference, 0);
    EXPECT_LE(difference, 8);
}

namespace {

// Every file below folder, as relative paths, except the tool's collected output.
std::vector<std::string> filesBelow(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (!entry.path().filename().string().starts_with("tool."))
            names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// A folder that holds no Windows system is refused by every command, which writes nothing in
// it or anywhere else; a folder with only an empty dosdevices/ has no drives either.
TEST_F(TempPrefixTest, AFolderThatHoldsNoSystemIsRefusedAndNothingIsWritten)
{
    writeFile(temp() / "pictures" / "logo.bmp", makeBmp(BmpSpec{}));
    const std::string picture = (temp() / "pictures" / "logo.bmp").string();
    const std::string expected =
        "crestwick-oem: " + prefix().string() +
        " is not a Windows system (no system.reg, no Windows volume, no drives)\n";
    const std::vector<std::vector<std::string>> commands = {
        {"show"},
        {"show", "--json"},
        {"set", "--model", "X"},
        {"logo", picture, "--verbose"},
        {"backup", (temp() / "backup").string()},
    };
    for (const bool withEmptyDrives : {false, true}) {
        fs::create_directories(prefix());
        if (withEmptyDrives)
            fs::create_directories(prefix() / "dosdevices");
        const std::vector<std::string> before = filesBelow(temp());
        for (const auto& args : commands) {
            SCOPED_TRACE(args[0] + (withEmptyDrives ? " with dosdevices/" : ""));
            const Result result = runTool(args);
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.err, expected);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(filesBelow(temp()), before);
        }
    }
}

// A registry made to be expensive: one key nested 40,000 levels deep, beyond what Windows
// allows, 50,000 keys side by side, and keys as deep and long-named as Windows allows. show
// reads it in bounded memory and still prints the OEM values.
TEST_F(TempPrefixTest, CrestwickOemShowReadsAHostileRegistryInBoundedMemory)
{
    // AddressSanitizer reserves far more address space than the limit: under it the registry is
    // still read whole, without the bound.
    int limitKb = 200 * 1024;
#if defined(__SANITIZE_ADDRESS__)
    limitKb = 0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    limitKb = 0;
#endif
#endif
    createDefaultPrefix();
    writeFile(windowsDir() / "system" / "oeminfo.ini", "[general]\r\nManufacturer=Acme\r\n");
    std::string registry = readFile(prefix() / "system.reg") + "\n[k";
    for (int level = 1; level < 40000; ++level)
        registry += "\\\\k";
    registry += "] 0\n\"v\"=\"x\"\n";
    for (int key = 0; key < 50000; ++key)
        registry += "\n[Software\\\\Wide\\\\Key" + std::to_string(key) + "] 0\n\"v\"=\"x\"\n";
    // Keys as deep and as long-named as Windows allows, each its own branch.
    const std::string name(252, 'n');
    for (int branch = 100; branch < 120; ++branch) {
        registry += "\n[" + std::to_string(branch) + name;
        for (int level = 1; level < 512; ++level)
            registry += "\\\\" + name + "nnn";
        registry += "] 0\n";
    }
    writeFile(prefix() / "system.reg", registry);
    const Result result = runTool({"show"}, limitKb);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Manufacturer:        Acme"), std::string::npos) << result.out;
}

namespace {

// A Windows 10 volume without any OEM data.
void makeWindows10Volume(const fs::path& folder)
{
    makeWindowsVolume(folder, {{"Microsoft\\Windows NT\\CurrentVersion",
                                {{"SystemRoot", platform::REG_SZ, text("C:\\Windows")},
                                 {"CurrentMajorVersionNumber", platform::REG_DWORD, dword(10)}}}});
}

// A system that the tests below make afresh, where it keeps its OEM files, and the file of its
// OEMInformation values (empty before NT 6).
struct System {
    const char* name;
    std::function<void()> make;
    fs::path systemFolder;
    fs::path registry;

    fs::path info() const { return systemFolder / "oeminfo.ini"; }
    fs::path logo() const { return systemFolder / "oemlogo.bmp"; }
    // The system made anew in prefix, its system folder there too.
    void makeAfresh(const fs::path& prefix) const
    {
        fs::remove_all(prefix);
        make();
        fs::create_directories(systemFolder);
    }
};

} // namespace

// Two programs that save to one system at the same moment, one changing the manufacturer and
// the other the model (or the logo), take turns: neither change is lost and every file stays
// whole, on every generation and on a Windows disk.
TEST_F(TempPrefixTest, ConcurrentSavesToOneSystemKeepEveryChange)
{
    // Rounds per system; each starts two programs at once. Under AddressSanitizer every start
    // of the program takes many times as long, and fewer rounds keep the test within its time.
    int rounds = 100;
#if defined(__SANITIZE_ADDRESS__)
    rounds = 20;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    rounds = 20;
#endif
#endif
    const fs::path drive = prefix() / "drive_c" / "windows";
    const std::vector<System> systems = {
        {"9x", [&] { createDefaultPrefix(); }, windowsDir() / "system", {}},
        {"NT 5", [&] { stock::makeNt5(prefix()); }, drive / "System32", {}},
        {"NT 6", [&] { stock::makeNt6(prefix()); }, drive / "system32", prefix() / "system.reg"},
        {"NT 6 disk", [&] { makeWindows10Volume(prefix()); }, prefix() / "Windows" / "System32",
         prefix() / "Windows" / "System32" / "config" / "SOFTWARE"},
    };
    const fs::path picture = temp() / "new.bmp";
    writeFile(picture, makeBmp(BmpSpec{}));
    const auto startBoth = [&](const std::vector<std::string>& first,
                               const std::vector<std::string>& second) {
        const pid_t a = startTool(first, temp() / "a.out", temp() / "a.err");
        const pid_t b = startTool(second, temp() / "b.out", temp() / "b.err");
        EXPECT_EQ(waitForTool(a), 0) << readAll(temp() / "a.err");
        EXPECT_EQ(waitForTool(b), 0) << readAll(temp() / "b.err");
    };
    for (const System& system : systems) {
        SCOPED_TRACE(system.name);
        system.makeAfresh(prefix());
        const fs::path info = system.info();
        const fs::path logo = system.logo();
        writeFile(info, kInfo);
        const std::string registryBefore =
            system.registry.empty() ? std::string() : readFile(system.registry);

        for (int round = 0; round < rounds; ++round) {
            const std::string maker = "Maker " + std::to_string(round);
            const std::string model = "Model " + std::to_string(round);
            startBoth({"set", "--manufacturer", maker}, {"set", "--model", model});
            std::string expected = kInfo;
            expected.replace(expected.find("Box 1"), 5, model);
            expected.replace(expected.find("Acme"), 4, maker);
            ASSERT_EQ(readFile(info), expected) << "round " << round;
            if (!system.registry.empty()) {
                ASSERT_EQ(registryString("Manufacturer"), maker) << "round " << round;
                ASSERT_EQ(registryString("Model"), model) << "round " << round;
            }
        }

        // The logo and the model, from a system that has neither a logo nor its value.
        std::string logoBytes;
        std::string logoValue;
        for (int round = 0; round < rounds / 5; ++round) {
            fs::remove(logo);
            if (!system.registry.empty())
                writeFile(system.registry, registryBefore);
            const std::string model = "Logo round " + std::to_string(round);
            startBoth({"set", "--model", model}, {"logo", picture.string()});
            EXPECT_NE(readFile(info).find("Model=" + model + "\r\n"), std::string::npos);
            ASSERT_TRUE(fs::exists(logo)) << "round " << round;
            if (logoBytes.empty())
                logoBytes = readFile(logo);
            EXPECT_EQ(readFile(logo), logoBytes);
            if (!system.registry.empty()) {
                EXPECT_EQ(registryString("Model"), model) << "round " << round;
                EXPECT_NE(registryString("Logo"), "(missing)") << "round " << round;
            }
        }
    }
}

// A save while another program holds the system's lock waits for it a few seconds, then says
// why it gave up and changes nothing.
TEST_F(TempPrefixTest, CrestwickOemGivesUpWhileAnotherProgramSaves)
{
    stock::makeNt6(prefix());
    const std::string before = readFile(prefix() / "system.reg");
    const int folder = ::open(prefix().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    ASSERT_EQ(::flock(folder, LOCK_EX), 0);
    const Result result = runTool({"set", "--model", "X"});
    ::close(folder);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "crestwick-oem: Another program is saving to this system. Try again.\n");
    EXPECT_EQ(readFile(prefix() / "system.reg"), before);
    EXPECT_EQ(runTool({"set", "--model", "X"}).status, 0);
}

namespace {

// The temporary files in a folder: names that begin with a dot.
std::vector<std::string> temporariesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with("."))
            names.push_back(entry.path().filename().string());
    return names;
}

} // namespace

// Saves killed at any moment leave every file whole, holding the old state or the new one,
// never a part of each; what a killed save left behind goes with the next save.
TEST_F(TempPrefixTest, SavesKilledAtAnyMomentLeaveEveryFileWhole)
{
    constexpr int kRuns = 30;
    const std::vector<System> systems = {
        {"NT 6", [&] { stock::makeNt6(prefix()); }, prefix() / "drive_c" / "windows" / "system32",
         prefix() / "system.reg"},
        {"NT 6 disk", [&] { makeWindows10Volume(prefix()); }, prefix() / "Windows" / "System32",
         prefix() / "Windows" / "System32" / "config" / "SOFTWARE"},
    };
    const fs::path picture = temp() / "new.bmp";
    writeFile(picture, makeBmp(BmpSpec{}));
    std::mt19937 random(24);
    // A run stopped after a random part of the time that a whole one takes.
    const auto killedRun = [&](const std::vector<std::string>& args, int wholeMs) {
        const pid_t pid = startTool(args, temp() / "k.out", temp() / "k.err");
        std::this_thread::sleep_for(std::chrono::microseconds(
            std::uniform_int_distribution<int>(0, wholeMs * 1500)(random)));
        ::kill(pid, SIGKILL);
        waitForTool(pid);
    };
    const auto timedRun = [&](const std::vector<std::string>& args) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(runTool(args).status, 0);
        return int(std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count()) +
               1;
    };
    const std::pair<std::string, std::string> pairs[] = {{"Maker A", "Model A"},
                                                         {"Maker B", "Model B"}};
    const auto iniOf = [](const std::pair<std::string, std::string>& pair) {
        std::string ini = kInfo;
        ini.replace(ini.find("Box 1"), 5, pair.second);
        ini.replace(ini.find("Acme"), 4, pair.first);
        return ini;
    };
    for (const System& system : systems) {
        SCOPED_TRACE(system.name);
        system.makeAfresh(prefix());
        const fs::path info = system.info();
        const fs::path logo = system.logo();
        writeFile(info, kInfo);
        const auto setArgs = [&](int which) {
            return std::vector<std::string>{"set", "--manufacturer", pairs[which].first, "--model",
                                            pairs[which].second};
        };
        const int setMs = timedRun(setArgs(0));
        const int logoMs = timedRun({"logo", picture.string()});
        const std::string logoBytes = readFile(logo);
        int current = 0;
        for (int run = 0; run < kRuns; ++run) {
            const int target = 1 - current;
            killedRun(setArgs(target), setMs);
            const std::string ini = readFile(info);
            ASSERT_TRUE(ini == iniOf(pairs[current]) || ini == iniOf(pairs[target]))
                << "run " << run << ": " << ini;
            const auto maker = registryString("Manufacturer");
            const int holds = maker == pairs[target].first ? target : current;
            ASSERT_EQ(maker, pairs[holds].first) << "run " << run;
            ASSERT_EQ(registryString("Model"), pairs[holds].second) << "run " << run;
            // The old file or the new one, the other way round from the INI file at worst;
            // a save that is started again finishes what the killed one began.
            ASSERT_EQ(runTool(setArgs(target)).status, 0);
            current = target;

            fs::remove(logo);
            killedRun({"logo", picture.string()}, logoMs);
            ASSERT_TRUE(!fs::exists(logo) || readFile(logo) == logoBytes) << "run " << run;
            ASSERT_LE(temporariesIn(system.systemFolder).size() +
                          temporariesIn(system.registry.parent_path()).size(),
                      1u)
                << "run " << run;
        }
        // The next save removes what the killed ones left.
        ASSERT_EQ(runTool(setArgs(current)).status, 0);
        EXPECT_EQ(temporariesIn(system.systemFolder), std::vector<std::string>{});
        EXPECT_EQ(temporariesIn(system.registry.parent_path()), std::vector<std::string>{});
    }
}

// show on a disk whose hive is damaged says so and fails, rather than showing another system.
TEST_F(TempPrefixTest, CrestwickOemShowRefusesADamagedHive)
{
    const fs::path hive = makeWindowsVolume(prefix(), {});
    std::string bytes = readFile(hive);
    bytes[0x30] ^= 0x01;
    writeFile(hive, bytes);
    const Result result = runTool({"show"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "crestwick-oem: The Windows registry on this disk cannot be read.\n");
}

namespace {

// Sets HelpCustomized, the one number of the OEMInformation key, as a maker's installer does.
void setHelpCustomized(std::uint32_t number)
{
    platform::HKEY key = 0;
    ASSERT_EQ(platform::RegCreateKeyExA(platform::HKEY_LOCAL_MACHINE, kOemInformationKey + 1, 0,
                                        nullptr, 0, platform::KEY_ALL_ACCESS, nullptr, &key,
                                        nullptr),
              platform::ERROR_SUCCESS);
    const std::string bytes = dword(number);
    EXPECT_EQ(platform::RegSetValueExA(key, "HelpCustomized", 0, platform::REG_DWORD,
                                       reinterpret_cast<const platform::BYTE*>(bytes.data()),
                                       platform::DWORD(bytes.size())),
              platform::ERROR_SUCCESS);
    platform::RegCloseKey(key);
}

// The support members of show --json, "null" for a missing one.
std::string supportShown()
{
    const Result json = runTool({"show", "--json"});
    EXPECT_EQ(json.status, 0) << json.err;
    const QJsonObject object =
        QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
    std::string shown;
    for (const char* name : {"supportPhone", "supportHours", "supportUrl", "helpCustomized"}) {
        const QJsonValue value = object[name];
        shown += std::string(name) + "=" +
                 (value.isNull()     ? std::string("null")
                  : value.isDouble() ? std::to_string(value.toInteger())
                                     : value.toString().toStdString()) +
                 ";";
    }
    return shown;
}

} // namespace

// The support phone, hours and web address of NT 6 and later, on a stock Wine prefix and on a
// Windows disk: set, shown as text and JSON, cleared, and kept by backup and restore with
// HelpCustomized.
TEST_F(TempPrefixTest, SupportValuesAreSetShownClearedAndRestoredOnNt6)
{
    const std::vector<System> systems = {
        {"NT 6", [&] { stock::makeNt6(prefix()); }, prefix() / "drive_c" / "windows" / "system32",
         prefix() / "system.reg"},
        {"NT 6 disk", [&] { makeWindows10Volume(prefix()); }, prefix() / "Windows" / "System32",
         prefix() / "Windows" / "System32" / "config" / "SOFTWARE"},
    };
    const std::string hours = "Mo\xe2\x80\x93"
                              "Fr 9\xe2\x80\x93"
                              "17 \xc3\x9c"
                              "hr";
    for (const System& system : systems) {
        SCOPED_TRACE(system.name);
        system.makeAfresh(prefix());
        const Result set = runTool({"set", "--support-phone", "+44 20 7946 0000", "--support-hours",
                                    hours, "--support-url=http://maker.example/"});
        ASSERT_EQ(set.status, 0) << set.err;
        setHelpCustomized(1);
        const std::string all = "supportPhone=+44 20 7946 0000;supportHours=" + hours +
                                ";supportUrl=http://maker.example/;helpCustomized=1;";
        EXPECT_EQ(supportShown(), all);
        const Result text = runTool({"show"});
        EXPECT_NE(text.out.find("Support hours:       " + hours + "\n"), std::string::npos)
            << text.out;
        EXPECT_NE(text.out.find("Help customized:     1\n"), std::string::npos);
        EXPECT_NE(text.out.find("Logo area:           120x120\n"), std::string::npos);
        // The files are not touched by values that live in the registry alone.
        EXPECT_FALSE(fs::exists(system.info()));

        const fs::path folder = temp() / "backup";
        fs::remove_all(folder);
        ASSERT_EQ(runTool({"backup", folder.string()}).status, 0);
        const Result clear = runTool({"set", "--clear", "support-phone", "--clear", "SupportURL",
                                      "--support-hours", "nights"});
        ASSERT_EQ(clear.status, 0) << clear.err;
        setHelpCustomized(0);
        EXPECT_EQ(supportShown(), "supportPhone=null;supportHours=nights;supportUrl=null;"
                                  "helpCustomized=0;");
        // Clearing what is not there is no error.
        EXPECT_EQ(runTool({"set", "--clear", "support-phone"}).status, 0);

        const Result restore = runTool({"restore", folder.string()});
        ASSERT_EQ(restore.status, 0) << restore.err;
        EXPECT_EQ(supportShown(), all);
    }
}

// 9x and NT 5 have no support values: asking for them is a usage error that names the
// generation, and nothing is written; their oeminfo.ini items can still be cleared.
TEST_F(TempPrefixTest, SupportValuesAreAUsageErrorBeforeNt6)
{
    const fs::path drive = prefix() / "drive_c" / "windows";
    const std::vector<System> systems = {
        {"9x", [&] { createDefaultPrefix(); }, windowsDir() / "system", {}},
        {"NT 5", [&] { stock::makeNt5(prefix()); }, drive / "System32", {}},
    };
    const std::vector<std::vector<std::string>> refused = {
        {"set", "--support-phone", "1"},
        {"set", "--support-url", "http://x/", "--model", "M"},
        {"set", "--clear", "support-hours"},
        {"set", "--clear", "line1", "--clear", "SUPPORTPHONE"},
    };
    for (const System& system : systems) {
        SCOPED_TRACE(system.name);
        system.makeAfresh(prefix());
        writeFile(system.info(), kInfo);
        const std::string before =
            readFile(system.info()) + "|" + readFile(prefix() / "system.reg");
        for (const auto& args : refused) {
            SCOPED_TRACE(args[1] + " " + args[2]);
            const Result result = runTool(args);
            EXPECT_EQ(result.status, 2);
            EXPECT_EQ(result.err, std::string("crestwick-oem: the support phone, hours and web "
                                              "address exist on NT 6 and later; this system is "
                                              "of generation ") +
                                      (system.name == std::string("9x") ? "9x" : "NT 5") +
                                      "\nTry 'crestwick-oem set --help' for more information.\n");
            EXPECT_EQ(readFile(system.info()) + "|" + readFile(prefix() / "system.reg"), before);
        }
        const Result unknown = runTool({"set", "--clear", "Line3"});
        EXPECT_EQ(unknown.status, 2);
        EXPECT_NE(unknown.err.find("does not know the item 'Line3'"), std::string::npos);

        ASSERT_EQ(runTool({"set", "--clear", "line2", "--clear", "Manufacturer"}).status, 0);
        EXPECT_EQ(readFile(system.info()), "[general]\r\nModel=Box 1\r\n"
                                           "[Support Information]\r\nLine1=Call us\r\n"
                                           "Line3=Kept line\r\n");
    }
}

// A 1000x500 picture fitted for a system fills the width of the box that the tool and the
// window fit, each written as Save Logo writes it; the window tells which box it fitted.
TEST_F(TempPrefixTest, AFittedLogoTakesTheBoxOfTheSystemsGeneration)
{
    const fs::path picture = temp() / "wide.jpg";
    writeFile(picture, makeJpeg({1000, 500, false, false, 90}));
    const struct {
        const char* name;
        std::function<void()> make;
        fs::path logo;
        int toolWidth, toolHeight, windowWidth, windowHeight;
        const char* status; // what the status bar says after Resize To Fit
    } cases[] = {
        {"9x", [&] { createDefaultPrefix(); }, windowsDir() / "system" / "oemlogo.bmp", 180, 90,
         180, 90, ""},
        {"NT 6", [&] { stock::makeNt6(prefix()); },
         prefix() / "drive_c" / "windows" / "system32" / "oemlogo.bmp", 120, 60, 120, 60,
         "Fitted to 120x114, the part of this preview that the NT 6+ System page shows"},
    };
    const auto logoSize = [](const fs::path& file) {
        TBitmap logo;
        logo.LoadFromFile("Z:" + file.string());
        return std::pair{logo.Width(), logo.Height()};
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(prefix());
        c.make();
        fs::create_directories(c.logo.parent_path());
        const Result tool = runTool({"logo", "--fit", picture.string()});
        ASSERT_EQ(tool.status, 0) << tool.err;
        EXPECT_EQ(logoSize(c.logo), std::pair(c.toolWidth, c.toolHeight));
        fs::remove(c.logo);

        TForm1 form;
        form.Image1->SetImageName("Z:" + picture.string());
        form.RxSpeedButton6Click(form.RxSpeedButton6);
        EXPECT_EQ(form.StatusBar1->SimpleText().toStdString(), c.status);
        form.LedButton2Click(form.LedButton2);
        EXPECT_EQ(logoSize(c.logo), std::pair(c.windowWidth, c.windowHeight));
    }
}

// The system named on the command line wins over WINEPREFIX, in each way of writing it.
TEST_F(TempPrefixTest, CrestwickOemActsOnTheSystemThatPrefixNames)
{
    createDefaultPrefix();
    const fs::path other = temp() / "other";
    stock::makeNt6(other);
    for (const auto& lead : std::vector<std::vector<std::string>>{{"--prefix", other.string()},
                                                                  {"-p", other.string()},
                                                                  {"--prefix=" + other.string()}}) {
        std::vector<std::string> args = lead;
        args.insert(args.end(), {"show", "--json"});
        const Result result = runTool(args);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.out.find("\"generation\":\"NT 6+\""), std::string::npos) << result.out;
    }
    EXPECT_NE(runTool({"show"}).out.find("9x"), std::string::npos);
    EXPECT_EQ(runTool({"-p"}).status, 2);
}

namespace {

// Text in code page 437 as UTF-8, through iconv.
std::string fromCodePage437(std::string bytes)
{
    const iconv_t converter = ::iconv_open("UTF-8", "CP437");
    if (converter == iconv_t(-1))
        return "(no CP437 in iconv)";
    std::string utf8(bytes.size() * 3, '\0');
    char* in = bytes.data();
    char* out = utf8.data();
    std::size_t inLeft = bytes.size();
    std::size_t outLeft = utf8.size();
    ::iconv(converter, &in, &inLeft, &out, &outLeft);
    ::iconv_close(converter);
    utf8.resize(utf8.size() - outLeft);
    return utf8;
}

} // namespace

// Wine itself reads the support values that the tool wrote into a stock prefix, letter for
// letter. reg prints in the console's code page, 437 in the C locale, which holds the
// letters chosen.
TEST_F(TempPrefixTest, WineReadsTheSupportValuesAsSet)
{
    if (std::system("command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1") !=
        0)
        GTEST_SKIP() << "Wine is not installed (apt-get install wine): reg query cannot run";
    stock::makeNt6(prefix());
    const std::string phone = "+44 20 7946 0000";
    const std::string hours = "Mo-Fr 9-17 (\xc3\x84rzte & Caf\xc3\xa9)";
    const std::string url = "http://maker.example/s\xc3\xbc"
                            "d";
    ASSERT_EQ(
        runTool({"set", "--support-phone", phone, "--support-hours", hours, "--support-url", url})
            .status,
        0);
    // Wine's own files go to the test's folder, never to a home directory.
    const fs::path out = temp() / "reg.out";
    const std::string command =
        "cd '" + temp().string() + "' && HOME='" + temp().string() +
        "' LC_ALL=C WINEDEBUG=-all wine reg query "
        "'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\OEMInformation' >'" +
        out.string() + "' 2>/dev/null; status=$?; HOME='" + temp().string() +
        "' wineserver -w; exit $status";
    ASSERT_EQ(std::system(command.c_str()), 0) << readFile(out);
    const std::string shown = fromCodePage437(readFile(out));
    for (const auto& [name, value] :
         {std::pair{"SupportPhone", phone}, std::pair{"SupportHours", hours},
          std::pair{"SupportURL", url}})
        EXPECT_NE(shown.find(std::string("    ") + name + "    REG_SZ    " + value + "\r\n"),
                  std::string::npos)
            << shown;
}
