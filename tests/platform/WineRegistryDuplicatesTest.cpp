// A registry file that names a value or a key more than once: every way of reading the key
// sees the last occurrence, as Wine does when it loads the file, also after a change.
#include "platform/WineRegistry.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using platform::WineRegistry;
using platform::WineRegValue;

namespace {

// A value's data as text: strings without their NUL, numbers as "dword:" and the low byte.
std::string shown(const WineRegValue& v)
{
    if (v.type == 4)
        return "dword:" + std::to_string(std::uint8_t(v.data.at(0)));
    std::string text = platform::utf16leToUtf8(v.data);
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

// What listing the key's values gives, by name as listed; and checks that looking each name
// up (in another letter case too) gives the very same value.
std::map<std::string, std::string> listedAndLookedUp(const WineRegistry& reg, const char* key)
{
    std::map<std::string, std::string> listed;
    for (const WineRegValue& v : reg.values(key)) {
        SCOPED_TRACE("value \"" + v.name + "\"");
        EXPECT_TRUE(listed.emplace(v.name, shown(v)).second) << "listed twice";
        for (const std::string& name : {v.name, platform::foldRegistryName(v.name)}) {
            const WineRegValue* found = reg.findValue(key, name);
            if (found == nullptr) {
                ADD_FAILURE() << "not found under \"" << name << "\"";
                continue;
            }
            EXPECT_EQ(found->name, v.name);
            EXPECT_EQ(found->type, v.type);
            EXPECT_EQ(found->data, v.data);
        }
    }
    return listed;
}

} // namespace

TEST(WineRegistryDuplicates, ListingAKeyAgreesWithReadingEachValue)
{
    struct Case {
        const char* what;
        std::string key;
        std::string body; // follows the header line
        std::map<std::string, std::string> expected;
    };
    const std::vector<Case> cases = {
        {"a name twice in one section",
         "K",
         "[K]\n\"a\"=\"1\"\n\"b\"=\"x\"\n\"a\"=\"2\"\n",
         {{"a", "2"}, {"b", "x"}}},
        {"a name three times, the kinds differing",
         "K",
         "[K]\n\"a\"=\"1\"\n\"a\"=dword:00000007\n\"b\"=\"x\"\n\"a\"=hex(1):33,00,00,00\n",
         {{"a", "3"}, {"b", "x"}}},
        {"the name in another letter case",
         "K",
         "[K]\n\"Name\"=\"1\"\n\"NAME\"=\"2\"\n",
         {{"NAME", "2"}}},
        {"the default value twice",
         "K",
         "[K]\n@=\"first\"\n\"v\"=\"x\"\n@=\"second\"\n",
         {{"", "second"}, {"v", "x"}}},
        {"the key's section twice",
         "K",
         "[K] 1\n\"a\"=\"1\"\n\"b\"=\"x\"\n\n[Other]\n\"a\"=\"other\"\n\n[K] 2\n\"a\"=\"2\"\n",
         {{"a", "2"}, {"b", "x"}}},
        {"the second section spelt differently",
         "Soft\\Key",
         "[Soft\\\\Key]\n\"a\"=\"1\"\n\"c\"=\"y\"\n[soft\\\\KEY]\n\"A\"=\"2\"\n\"b\"=\"x\"\n",
         {{"A", "2"}, {"b", "x"}, {"c", "y"}}},
        {"a name twice in each of two sections",
         "K",
         "[K]\n\"a\"=\"1\"\n\"a\"=\"2\"\n[K]\n\"a\"=\"3\"\n\"a\"=\"4\"\n[K]\n\"b\"=\"x\"\n",
         {{"a", "4"}, {"b", "x"}}},
        {"damaged later lines override nothing",
         "K",
         "[K]\n\"a\"=\"1\"\n\"a\"=hex:zz\n[K\n\"a\"=\"3\"\n",
         {{"a", "1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = "WINE REGISTRY Version 2\n" + c.body;
        const std::string& key = c.key;
        const WineRegistry reg = WineRegistry::parse(file);
        EXPECT_EQ(listedAndLookedUp(reg, key.c_str()), c.expected);
        // Listing first and looking up afterwards gives the same as the other way round.
        const WineRegistry fresh = WineRegistry::parse(file);
        for (const auto& [name, text] : c.expected) {
            const WineRegValue* found = fresh.findValue(key, name);
            ASSERT_NE(found, nullptr) << name;
            EXPECT_EQ(shown(*found), text) << name;
        }
        EXPECT_EQ(listedAndLookedUp(fresh, key.c_str()), c.expected);
    }
}

TEST(WineRegistryDuplicates, AChangedValueIsTheOneReadBackAfterTheFileIsWrittenAgain)
{
    // The name occurs in both sections of the key and twice in the second; the change must
    // land on the occurrence that counts, or the old data would come back on the next load.
    const std::string file = "WINE REGISTRY Version 2\n"
                             "[K] 1\n\"a\"=\"1\"\n\"b\"=\"x\"\n\n"
                             "[K] 2\n\"a\"=\"2\"\n\"A\"=\"3\"\n";
    WineRegistry reg = WineRegistry::parse(file);
    reg.setValue("k", {"a", 1, platform::utf8ToUtf16le(std::string("new") + '\0')}, 5);
    reg.setValue("k", {"c", 1, platform::utf8ToUtf16le(std::string("added") + '\0')}, 5);
    const std::map<std::string, std::string> expected = {{"A", "new"}, {"b", "x"}, {"c", "added"}};
    EXPECT_EQ(listedAndLookedUp(reg, "K"), expected);
    const WineRegistry reread = WineRegistry::parse(reg.serialize());
    EXPECT_EQ(listedAndLookedUp(reread, "K"), expected);
}
