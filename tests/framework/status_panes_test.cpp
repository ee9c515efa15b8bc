#include "framework/status_panes.h"

#include <gtest/gtest.h>

TEST(StatusPanes, TextsEdgesAreRunningSumsAndNamesIgnoreAsciiCaseButNotBlanks) {
    EXPECT_EQ(ComposePaneText("发送", "0.00MB/s"), "发送：0.00MB/s");
    EXPECT_EQ(ComposePaneText("", "1.50MB/s"), "1.50MB/s");
    CStatusPaneList list;
    EXPECT_EQ(list.Add("    接收", 10), 0);
    EXPECT_EQ(list.Add("ABC", 20), 1);
    list.Add("c", 30);
    CStatusBarLayout layout = list.Layout();
    EXPECT_EQ(layout.vecRightEdges, (std::vector<int>{10, 30, -1}));
    EXPECT_EQ(layout.vecTexts[1], "ABC：0.00MB/s");
    const std::pair<const char*, int> names[] = {
        {"接收", -1}, {"    接收", 0}, {"abc", 1}, {"ab", -1}};
    for (auto& name : names)
        EXPECT_EQ(list.FindByName(name.first), name.second) << name.first;
}

TEST(StatusPanes, FieldsAreCutTo256BytesAndBadIndexesChangeNothing) {
    CStatusPaneList list;
    list.Add("n", 10);
    list.Add(std::string(400, 'n').c_str(), 10);
    EXPECT_EQ(list.GetName(1).size(), 256u);
    std::string strDisplay;
    ASSERT_TRUE(list.SetText(0, std::string(300, 'x'), strDisplay));
    EXPECT_EQ(list.GetText(0), std::string(256, 'x'));
    EXPECT_EQ(strDisplay, "n：" + std::string(256, 'x'));
    strDisplay = "unchanged";
    for (int nBad : {2, -1})
        EXPECT_FALSE(list.SetText(nBad, "v", strDisplay)) << nBad;
    EXPECT_EQ(strDisplay, "unchanged");
    EXPECT_EQ(list.GetText(1), "0.00MB/s");
}
