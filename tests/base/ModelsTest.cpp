#include "base/Models.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

TEST(Models, ConnectionListIsSortedAndRemovesOneEntryAtATime)
{
    CConnectionListModel list;
    list.Add("192.168.0.9");
    list.Add("10.0.0.1");
    list.Add("10.0.0.1");
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"10.0.0.1", "10.0.0.1", "192.168.0.9"}));
    EXPECT_TRUE(list.Remove("10.0.0.1"));
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"10.0.0.1", "192.168.0.9"}));
    EXPECT_FALSE(list.Remove("10.0.0"));
}

TEST(Models, MailListInsertPastTheEndAppendsAndSelectionFollows)
{
    CMailListModel list;
    list.InsertRow(5, {"a"});
    list.InsertRow(0, {"b"});
    EXPECT_EQ(list.RowCount(), 2);
    EXPECT_EQ(list.Cell(0, CMailListModel::kFrom), "b");
    EXPECT_EQ(list.Cell(1, CMailListModel::kFrom), "a");
    list.m_selection = {1};
    list.DeleteRow(0);
    EXPECT_EQ(list.m_selection, std::set<int32_t>{0});
    EXPECT_EQ(list.Cell(7, 0), "");
}
