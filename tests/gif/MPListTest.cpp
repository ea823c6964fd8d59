#include "gif/MPList.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Records its own destruction in a shared log.
struct Tracked {
    Tracked(std::vector<int>& log, int id) : log(log), id(id) {}
    ~Tracked() { log.push_back(id); }
    std::vector<int>& log;
    int id;
};

} // namespace

TEST(GifOwnedList, FreesItsObjectsFirstToLast)
{
    std::vector<int> freed;
    {
        TMPOwnedObjectList<Tracked> list;
        for (int id = 0; id < 3; ++id)
            EXPECT_EQ(list.Add(std::make_unique<Tracked>(freed, id)), id);
        list.Clear();
        EXPECT_EQ(freed, (std::vector<int>{0, 1, 2}));
        EXPECT_EQ(list.Count(), 0);
        list.Add(std::make_unique<Tracked>(freed, 7));
    }
    EXPECT_EQ(freed, (std::vector<int>{0, 1, 2, 7}));
}

TEST(GifOwnedList, FreeingOneObjectKeepsItsEntry)
{
    std::vector<int> freed;
    TMPOwnedObjectList<Tracked> list;
    list.Add(std::make_unique<Tracked>(freed, 0));
    list.Add(std::make_unique<Tracked>(freed, 1));
    list.FreeItem(0);
    EXPECT_EQ(freed, (std::vector<int>{0}));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0], nullptr);
    EXPECT_EQ(list[1]->id, 1);
}
