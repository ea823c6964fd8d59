#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

// Why a test skips when the filesystem of the temporary folder lacks what it checks, and how
// a contributor gets it.
inline constexpr const char* kNoExtendedAttributes =
    "the temporary folder's filesystem keeps no user extended attributes: point TMPDIR at a "
    "folder on ext4, xfs or btrfs";
inline constexpr const char* kNoSparseFiles =
    "the temporary folder's filesystem has no sparse files: point TMPDIR at a folder on ext4, "
    "xfs, btrfs or tmpfs";

// A test case's own machine: a temporary folder holding a prefix (WINEPREFIX points at it)
// and a home, both removed afterwards. The error box records its reports instead of showing.
class TempPrefixTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The temporary folder; the prefix is its "prefix" subfolder, not yet created.
    const std::filesystem::path& temp() const { return temp_; }
    std::filesystem::path prefix() const { return temp_ / "prefix"; }
    // Creates the prefix as the program does at first start.
    void createDefaultPrefix();
    // Host path of the fresh prefix's C:\WINDOWS.
    std::filesystem::path windowsDir() const { return prefix() / "drive_c" / "WINDOWS"; }

    static void writeFile(const std::filesystem::path& path, std::string_view bytes);
    static std::string readFile(const std::filesystem::path& path);

    // The texts that reached the error box during this test, in order.
    std::vector<std::string> errors;

private:
    std::filesystem::path temp_;
    std::filesystem::path oldCwd_;
    std::string oldPrefix_;
    bool hadPrefix_ = false;
};
