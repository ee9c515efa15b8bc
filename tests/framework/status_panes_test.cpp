#include "framework/status_panes.h"

#include <gtest/gtest.h>

TEST(StatusPanes, ComposesNameColonValue) {
    EXPECT_EQ(ComposePaneText("发送", "0.00MB/s"), std::string("发送") + "：" + "0.00MB/s");
    EXPECT_EQ(ComposePaneText("", "1.50MB/s"), "1.50MB/s");
}

TEST(StatusPanes, EdgesAreRunningSumsAndTheLastReachesTheBorder) {
    CStatusPaneList list;
    EXPECT_EQ(list.Add("    接收", 180), 0);
    EXPECT_EQ(list.Add("发送", 100), 1);
    CStatusBarLayout layout = list.Layout();
    ASSERT_EQ(layout.vecRightEdges.size(), 2u);
    EXPECT_EQ(layout.vecRightEdges[0], 180);
    EXPECT_EQ(layout.vecRightEdges[1], -1);
    EXPECT_EQ(layout.vecTexts[0], std::string("    接收") + "：0.00MB/s");
    EXPECT_EQ(layout.vecTexts[1], std::string("发送") + "：0.00MB/s");

    CStatusPaneList three;
    three.Add("a", 10);
    three.Add("b", 20);
    three.Add("c", 30);
    EXPECT_EQ(three.Layout().vecRightEdges, (std::vector<int>{10, 30, -1}));
}

TEST(StatusPanes, FindByNameIgnoresAsciiCaseButNotLeadingBlanks) {
    CStatusPaneList list;
    list.Add("    接收", 180);
    list.Add("ABC", 100);
    EXPECT_EQ(list.FindByName("接收"), -1);
    EXPECT_EQ(list.FindByName("    接收"), 0);
    EXPECT_EQ(list.FindByName("abc"), 1);
    EXPECT_EQ(list.FindByName("ab"), -1);
}

TEST(StatusPanes, ValuesAreCutTo256Bytes) {
    CStatusPaneList list;
    list.Add("n", 10);
    std::string strDisplay;
    ASSERT_TRUE(list.SetText(0, std::string(300, 'x'), strDisplay));
    EXPECT_EQ(list.GetText(0), std::string(256, 'x'));
    EXPECT_EQ(strDisplay, std::string("n：") + std::string(256, 'x'));
}

TEST(StatusPanes, LongNamesAreCutAndBadIndexesChangeNothing) {
    CStatusPaneList list;
    list.Add(std::string(400, 'n').c_str(), 10);
    EXPECT_EQ(list.GetName(0).size(), 256u);
    std::string strDisplay = "unchanged";
    EXPECT_FALSE(list.SetText(1, "v", strDisplay));
    EXPECT_FALSE(list.SetText(-1, "v", strDisplay));
    EXPECT_EQ(strDisplay, "unchanged");
    EXPECT_EQ(list.GetText(0), "0.00MB/s");
}
