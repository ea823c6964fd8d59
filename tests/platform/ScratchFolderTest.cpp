// Which files count as a working copy whose writes need not be flushed one by one.
#include "platform/ScratchFolder.h"

#include <gtest/gtest.h>

#include <optional>

using platform::ScratchFolder;

TEST(ScratchFolder, HoldsWhatLiesBelowItsFolderByNameWhileItLives)
{
    std::optional<ScratchFolder> scratch(std::in_place, "/tmp/volume/");
    const struct {
        const char* file;
        bool held;
    } cases[] = {
        {"/tmp/volume/Windows/System32/oeminfo.ini", true},
        {"/tmp/volume/./Windows/../SOFTWARE", true},
        {"/tmp/volume", true},
        {"/tmp/volume2/oeminfo.ini", false},   // a sibling sharing the name's start
        {"/tmp/volume/../oeminfo.ini", false}, // leaves the folder
        {"volume/oeminfo.ini", false},         // relative: not known to lie there
        {"/tmp/oeminfo.ini", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScratchFolder::holds(c.file), c.held) << c.file;
    {
        ScratchFolder nested("/tmp/volume/Windows");
        EXPECT_TRUE(ScratchFolder::holds("/tmp/volume/Windows/x"));
    }
    EXPECT_TRUE(ScratchFolder::holds("/tmp/volume/Windows/x"));
    scratch.reset();
    EXPECT_FALSE(ScratchFolder::holds("/tmp/volume/Windows/x"));
}
