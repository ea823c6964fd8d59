#include "desktop/TApplication.h"
#include "core/Exceptions.h"
#include "tests/support/TempPrefix.h"

using TApplicationTest = TempPrefixTest;

TEST_F(TApplicationTest, ErrorBoxAppendsAFullStopAfterCharactersThatSortAfterIt)
{
    const struct {
        const char* message;
        const char* shown;
    } cases[] = {
        {"Unable to write to \\system\\oeminfo.ini", "Unable to write to \\system\\oeminfo.ini."},
        {"Invalid data type for 'SystemRoot'", "Invalid data type for 'SystemRoot'"},
        {"List index out of bounds (-1)", "List index out of bounds (-1)"},
        {"Ends with a dot.", "Ends with a dot."},
        {"Ends with a dash-", "Ends with a dash-"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TApplication::errorBoxText(c.message), c.shown) << c.message;
}

TEST_F(TApplicationTest, GuardReportsHandlerErrorsWithTheTitleAndCarriesOn)
{
    std::string caption;
    Application().SetErrorReporter([&](const std::string& text, const std::string& title) {
        errors.push_back(text);
        caption = title;
    });
    bool after = false;
    Application().Guard([] { throw EInvalidGraphic("Bitmap image is not valid"); });
    Application().Guard([] { throw EAbort("silent"); });
    Application().Guard([&] { after = true; });
    ASSERT_EQ(errors, std::vector<std::string>{"Bitmap image is not valid."});
    EXPECT_EQ(caption, "crestwick_desktop_tests");
    EXPECT_TRUE(after);
}
