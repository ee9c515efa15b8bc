#include "server/mzbyte.h"

#include <gtest/gtest.h>

TEST(MzByte, StartsEmpty) {
    MzByte buf;
    EXPECT_EQ(buf.m_nSize, 0);
    EXPECT_EQ(buf.m_pData, nullptr);
}

TEST(MzByte, GrowsKeepsOldBytesAndEndsInTwoZeros) {
    MzByte buf;
    unsigned char* p = buf.SetSize(2, true);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 0);
    p[0] = 0x81;
    p[1] = 0x7E;
    p = buf.SetSize(4, false);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(buf.m_nSize, 4);
    EXPECT_EQ(p[0], 0x81);
    EXPECT_EQ(p[1], 0x7E);
    EXPECT_EQ(p[4], 0);
    EXPECT_EQ(p[5], 0);
}

TEST(MzByte, ZeroFillClearsOnRequest) {
    MzByte buf;
    unsigned char* p = buf.SetSize(3, false);
    p[0] = p[1] = p[2] = 0xAA;
    p = buf.SetSize(3, true);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[2], 0);
}

TEST(MzByte, SizeZeroFreesTheBlock) {
    MzByte buf;
    buf.SetSize(10, true);
    EXPECT_EQ(buf.SetSize(0, false), nullptr);
    EXPECT_EQ(buf.m_nSize, 0);
    EXPECT_EQ(buf.m_pData, nullptr);
}
