#include "stitch/WorkerPool.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <system_error>

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

// With room for only a few thread stacks, a pool of many threads cannot start
// them all: the threads already running are joined again and the caller gets
// std::system_error, instead of the process ending in std::terminate.
#if !defined(__SANITIZE_ADDRESS__)
[[noreturn]] void StartManyThreadsInLittleRoom() {
    std::size_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const auto used = pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const rlimit room{used + (std::size_t{40} << 20), RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &room);
    try {
        WorkerPool pool(64);
    } catch (const std::system_error&) {
        std::exit(0);
    }
    std::exit(2); // every stack fitted: the limit did not bite
}
#endif

TEST(WorkerPool, AThreadThatCannotStartIsReportedAfterTheOthersAreJoined) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit this test sets";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(StartManyThreadsInLittleRoom(), testing::ExitedWithCode(0), "");
#endif
}

} // namespace
} // namespace quiltara
