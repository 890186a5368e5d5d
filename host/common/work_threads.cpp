#include "work_threads.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace torvel {

namespace {

std::atomic<unsigned> chosen_threads{0};

unsigned cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1;
}

// TORVEL_THREADS as a whole number from 1 to 1024; 0 when unset or anything else.
unsigned threads_from_environment() {
    const char* v = std::getenv("TORVEL_THREADS");
    if (!v) return 0;
    unsigned n = 0;
    for (const char* c = v; *c; ++c) {
        if (*c < '0' || *c > '9' || n > 1024) return 0;
        n = n * 10 + static_cast<unsigned>(*c - '0');
    }
    return n <= 1024 ? n : 0;
}

}  // namespace

unsigned work_threads() {
    if (const unsigned n = chosen_threads.load(std::memory_order_relaxed)) return n;
    if (const unsigned n = threads_from_environment()) return n;
    return cores();
}

void set_work_threads(unsigned threads) { chosen_threads.store(threads, std::memory_order_relaxed); }

void run_tasks(unsigned threads, std::size_t tasks, const std::function<void(std::size_t)>& task) {
    std::atomic<std::size_t> next{0};
    // A task that fails (a helper thread short of memory) would end the process from a helper thread:
    // the first failure is kept and given to the caller, and no further task is started.
    std::mutex failed_lock;
    std::exception_ptr failed;
    auto work = [&] {
        try {
            for (std::size_t k = next.fetch_add(1); k < tasks; k = next.fetch_add(1)) task(k);
        } catch (...) {
            next.store(tasks);
            const std::lock_guard lock(failed_lock);
            if (!failed) failed = std::current_exception();
        }
    };
    std::vector<std::jthread> helpers;
    const std::size_t wanted = std::min<std::size_t>(threads, tasks);
    for (std::size_t i = 1; i < wanted; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the ones running share the work
        }
    }
    work();
    helpers.clear();  // joined
    if (failed) std::rethrow_exception(failed);
}

}  // namespace torvel
