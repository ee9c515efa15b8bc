#include "framework/object_pool.h"
#include "framework/vx_types.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using CPool = CObjectPool<_VX_COMMAND_MSG>;

TEST(ObjectPool, NoGrowthGivesNullAndRecordsComeBackAsTheyWereLeft) {
    CPool pool(0, 1, "trace");
    auto* p = pool.AllocObject();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->nKind, 0);
    EXPECT_TRUE(p->strName.empty());
    EXPECT_EQ(p->nValue, 0);
    EXPECT_EQ(pool.AllocObject(), nullptr);
    p->strText = "kept";
    pool.FreeObject(p);
    pool.FreeObject(p); // traced, joins the free set once
    EXPECT_EQ(pool.FreeCount(), 1u);
    EXPECT_EQ(pool.InUseCount(), 0u);
    ASSERT_EQ(pool.AllocObject(), p);
    EXPECT_EQ(p->strText, "kept");
}

TEST(ObjectPool, ManyThreadsTakeAndReturnWithoutLosingRecords) {
    CPool pool(2, 8, "trace");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&pool] {
            for (int i = 0; i < 1000; ++i) {
                auto* a = pool.AllocObject();
                pool.FreeObject(pool.AllocObject());
                pool.FreeObject(a);
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(pool.InUseCount(), 0u);
    EXPECT_GE(pool.TotalCount(), 8u);
    EXPECT_EQ(pool.TotalCount() % 2, 0u);
}
