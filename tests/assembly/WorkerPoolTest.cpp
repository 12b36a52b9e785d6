#include "assembly/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>

namespace quiltara {
namespace {

// A task that throws ends neither its thread nor the process: the first
// exception reaches the caller from Wait(), once every task has ended, and
// the pool goes on working afterwards.
TEST(WorkerPool, ATaskExceptionReachesTheCallerAfterTheOtherTasks) {
    for (const auto& [threads, throwing] : {std::pair{1u, 1}, {4u, 3}, {2u, 0}}) {
        WorkerPool pool(threads);
        std::atomic<int> ran{0};
        for (int i = 0; i < 50; ++i) {
            pool.Post(
                [&ran, i, throwing = throwing] {
                    if (++ran, i % 17 == 5 && i / 17 < throwing) {
                        throw std::bad_alloc();
                    }
                },
                i % 3 == 0);
        }
        if (throwing > 0) {
            EXPECT_THROW(pool.Wait(), std::bad_alloc) << threads;
        } else {
            pool.Wait();
        }
        EXPECT_EQ(ran.load(), 50);
        pool.Post([&ran] { ++ran; }, false);
        EXPECT_NO_THROW(pool.Wait());
        EXPECT_EQ(ran.load(), 51);
    }
}

} // namespace
} // namespace quiltara
