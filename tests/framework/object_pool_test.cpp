#include "framework/object_pool.h"
#include "framework/vx_types.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using CPool = CObjectPool<_VX_COMMAND_MSG>;

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
    // A record given back twice is traced and counted free once.
    auto* p = pool.AllocObject();
    pool.FreeObject(p);
    pool.FreeObject(p);
    EXPECT_EQ(pool.FreeCount(), pool.TotalCount());
}
