// run_tasks: every task once, and a task that fails on a helper thread reaches the caller instead of
// ending the process.
#include "work_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <vector>

namespace {

TEST(RunTasks, RunsEachTaskOnceAndHandsAFailureOnAnyThreadToTheCaller) {
    std::vector<std::atomic<int>> runs(1000);
    torvel::run_tasks(4, runs.size(), [&](std::size_t k) { ++runs[k]; });
    for (const std::atomic<int>& r : runs) EXPECT_EQ(r.load(), 1);

    // Every task but the first fails, so the failures land on the helper threads as well.
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> started{0};
        EXPECT_THROW(torvel::run_tasks(4, 1000,
                                       [&](std::size_t k) {
                                           ++started;
                                           if (k > 0) throw std::bad_alloc();
                                       }),
                     std::bad_alloc);
        // No task starts after the failure is seen (at most one per thread was already under way).
        EXPECT_LE(started.load(), 1 + 4);
    }
}

}  // namespace
