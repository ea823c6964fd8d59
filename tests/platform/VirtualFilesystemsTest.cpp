#include "platform/VirtualFilesystems.h"

#include <gtest/gtest.h>

using platform::VirtualFilesystems;

TEST(VirtualFilesystems, KeepsTheKernelsOwnFilesystemsFromMountInfo)
{
    const VirtualFilesystems table = VirtualFilesystems::fromMountInfo(
        // The root and a disk: ordinary filesystems.
        "27 1 254:1 / / rw,relatime shared:1 - ext4 /dev/vda1 rw\n"
        "40 27 8:17 / /mnt/data rw - ext4 /dev/sdb1 rw\n"
        // Virtual ones, with and without optional fields.
        "22 27 0:21 / /proc rw,nosuid shared:5 - proc proc rw\n"
        "23 27 0:22 / /sys rw - sysfs sysfs rw\n"
        "24 23 0:26 / /sys/fs/cgroup rw shared:9 master:2 - cgroup2 cgroup2 rw\n"
        "25 27 0:6 / /dev rw - devtmpfs udev rw,size=1k\n"
        "26 25 0:24 / /dev/pts rw - devpts devpts rw\n"
        // A mount point with a space and a backslash written as octal escapes.
        "41 27 0:50 / /mnt/my\\040proc\\134x rw - proc proc rw\n"
        // Lines that do not parse, and a virtual filesystem mounted on the root.
        "garbage\n"
        "42 27 0:x / /bad rw - proc proc rw\n"
        "43 27 0:51 / /nosep rw proc proc rw\n"
        "44 1 0:52 / / rw - tracefs tracefs rw");

    for (const char* name : {"proc", "sys", "cgroup", "dev", "pts", "my proc\\x"})
        EXPECT_TRUE(table.mayBeMountPoint(name)) << name;
    for (const char* name : {"", "data", "bad", "nosep", "my\\040proc\\134x", "Proc"})
        EXPECT_FALSE(table.mayBeMountPoint(name)) << name;

    for (auto [major, minor] :
         {std::pair{0u, 21u}, {0u, 22u}, {0u, 26u}, {0u, 6u}, {0u, 24u}, {0u, 50u}})
        EXPECT_TRUE(table.isVirtualDevice(major, minor)) << major << ":" << minor;
    for (auto [major, minor] : {std::pair{254u, 1u}, {8u, 17u}, {0u, 51u}, {0u, 52u}})
        EXPECT_FALSE(table.isVirtualDevice(major, minor)) << major << ":" << minor;

    EXPECT_TRUE(VirtualFilesystems::fromMountInfo("").empty());
}

TEST(VirtualFilesystems, ThisMachinesProcIsOneOfThem)
{
    const VirtualFilesystems table = VirtualFilesystems::current();
    if (table.empty())
        GTEST_SKIP() << "/proc/self/mountinfo lists no virtual filesystem here: mount /proc";
    EXPECT_TRUE(table.mayBeMountPoint("proc"));
    EXPECT_TRUE(table.holds("/proc"));
    EXPECT_TRUE(table.holds("/proc/self"));
    EXPECT_FALSE(table.holds("/"));
    EXPECT_FALSE(table.holds("/no/such/folder"));
}
