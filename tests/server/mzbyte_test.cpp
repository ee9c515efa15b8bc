// The growable byte block behind the frame headers.
#include "server/mzbyte.h"

#include <gtest/gtest.h>

TEST(MzByte, GrowsKeepingItsBytesAndEndsInTwoZeros) {
    MzByte buf;
    EXPECT_EQ(buf.m_nSize, 0);
    EXPECT_EQ(buf.m_pData, nullptr);
    unsigned char* p = buf.SetSize(3, false);
    ASSERT_NE(p, nullptr);
    p[0] = p[1] = p[2] = 0xAA;
    p = buf.SetSize(3, true); // zero-filled on request, even at the same size
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[2], 0);
    p[0] = 0x81;
    p[1] = 0x7E;
    p = buf.SetSize(4, false);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(buf.m_nSize, 4);
    EXPECT_EQ(p[0], 0x81);
    EXPECT_EQ(p[1], 0x7E);
    EXPECT_EQ(p[4], 0);
    EXPECT_EQ(p[5], 0);
    EXPECT_EQ(buf.SetSize(0, false), nullptr); // size zero frees the block
    EXPECT_EQ(buf.m_nSize, 0);
    EXPECT_EQ(buf.m_pData, nullptr);
}
