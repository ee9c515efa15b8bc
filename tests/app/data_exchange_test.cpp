#include "app/data_exchange.h"

#include <gtest/gtest.h>

TEST(DataExchange, ParsesDecimalIntegersAndLeavesTheValueAloneOtherwise) {
    const struct {
        const char* pszText;
        bool bOk;
        int nValue;
    } rows[] = {{"10001", true, 10001},   {"  -5 ", true, -5}, {"+7", true, 7},
                {"65536", true, 65536},   {"", false, 0},      {"abc", false, 0},
                {"12a", false, 0},        {"1 2", false, 0},   {"-", false, 0},
                {"99999999999", false, 0}};
    for (const auto& row : rows) {
        int n = 42;
        EXPECT_EQ(ParseDialogInt(row.pszText, n), row.bOk) << row.pszText;
        EXPECT_EQ(n, row.bOk ? row.nValue : 42) << row.pszText;
    }
}

TEST(DataExchange, RangeMessageAndPrefixSearchFromTheTop) {
    EXPECT_EQ(RangeMessage(1, 65535), "请输入一个在 1 和 65535 之间的整数。");
    std::vector<std::string> items{"上传", "下载"};
    EXPECT_EQ(FindPrefixItem(items, "下"), 1);
    EXPECT_EQ(FindPrefixItem(items, "下载"), 1);
    EXPECT_EQ(FindPrefixItem(items, "上传"), 0);
    EXPECT_EQ(FindPrefixItem(items, "x"), -1);
    EXPECT_EQ(FindPrefixItem(items, ""), 0);
    EXPECT_EQ(FindPrefixItem({"Up", "Down"}, "dOW"), 1);
}
