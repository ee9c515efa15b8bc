#include "app/data_exchange.h"

#include <gtest/gtest.h>

TEST(DataExchange, ParsesDecimalIntegers) {
    int n = 0;
    EXPECT_TRUE(ParseDialogInt("10001", n));
    EXPECT_EQ(n, 10001);
    EXPECT_TRUE(ParseDialogInt("  -5 ", n));
    EXPECT_EQ(n, -5);
    EXPECT_TRUE(ParseDialogInt("+7", n));
    EXPECT_EQ(n, 7);
    EXPECT_TRUE(ParseDialogInt("65536", n));
    EXPECT_EQ(n, 65536);
}

TEST(DataExchange, RejectsWhatIsNotAnInteger) {
    int n = 42;
    EXPECT_FALSE(ParseDialogInt("", n));
    EXPECT_FALSE(ParseDialogInt("abc", n));
    EXPECT_FALSE(ParseDialogInt("12a", n));
    EXPECT_FALSE(ParseDialogInt("1 2", n));
    EXPECT_FALSE(ParseDialogInt("-", n));
    EXPECT_FALSE(ParseDialogInt("99999999999", n));
    EXPECT_EQ(n, 42);
}

TEST(DataExchange, RangeMessageFillsBothBounds) {
    EXPECT_EQ(RangeMessage(1, 65535), "请输入一个在 1 和 65535 之间的整数。");
    EXPECT_STREQ(kEnterIntegerText, "请输入一个整数。");
}

TEST(DataExchange, PrefixSearchFromTheTop) {
    std::vector<std::string> items{"上传", "下载"};
    EXPECT_EQ(FindPrefixItem(items, "下"), 1);
    EXPECT_EQ(FindPrefixItem(items, "下载"), 1);
    EXPECT_EQ(FindPrefixItem(items, "上传"), 0);
    EXPECT_EQ(FindPrefixItem(items, "x"), -1);
    EXPECT_EQ(FindPrefixItem(items, ""), 0);
    EXPECT_EQ(FindPrefixItem({"Up", "Down"}, "dOW"), 1);
}
