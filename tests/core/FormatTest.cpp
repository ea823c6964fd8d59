#include "core/AsciiCase.h"
#include "core/Exceptions.h"
#include "core/Format.h"

#include <gtest/gtest.h>

TEST(Format, FillsTheSystemsMessageTemplates)
{
    EXPECT_EQ(core::Format("Unknown picture file extension (.%s)", {"xyz"}),
              "Unknown picture file extension (.xyz)");
    EXPECT_EQ(core::Format("'%s' is an invalid mask at (%d)", {"[a", 2}),
              "'[a' is an invalid mask at (2)");
    EXPECT_EQ(core::Format("List index out of bounds (%d)", {-1}), "List index out of bounds (-1)");
    EXPECT_EQ(core::Format("0x%x %u%%", {255, 7u}), "0xff 7%");
}

TEST(Format, RejectsMissingOrMismatchedArguments)
{
    EXPECT_THROW(core::Format("%s %s", {"one"}), EConvertError);
    EXPECT_THROW(core::Format("%d", {"text"}), EConvertError);
    EXPECT_THROW(core::Format("%q", {1}), EConvertError);
    EXPECT_THROW(core::Format("trailing %", {}), EConvertError);
}

TEST(AsciiCase, ChangesOnlyAsciiLetters)
{
    EXPECT_EQ(core::AsciiUpperCase("a.jpg Z\xC3\xA9"), "A.JPG Z\xC3\xA9");
    EXPECT_EQ(core::AsciiLowerCase("C:\\WINDOWS\\"), "c:\\windows\\");
    EXPECT_TRUE(core::asciiEqualsIgnoreCase("General", "gENERAL"));
    EXPECT_FALSE(core::asciiEqualsIgnoreCase("general", "generals"));
}
