// The threads the host spends on one large piece of work (reading a file, building a mesh's edge
// table). The readers and the host core share one setting, so that a -j worker's share holds for both.
#pragma once

#include <cstddef>
#include <functional>

namespace torvel {

// The number given to set_work_threads, else TORVEL_THREADS when it is a whole number from 1 to 1024,
// else one per core the process may run on. set_work_threads(0) goes back to TORVEL_THREADS or the cores.
unsigned work_threads();
void set_work_threads(unsigned threads);

// Calls `task(k)` once for every k in [0, tasks) on up to `threads` threads (this one included), each
// thread taking the next k as it gets free; returns when all are done. When a task throws (on any
// thread), no further task is started and the first exception is rethrown here once every thread has
// stopped. When a thread cannot be started the others do its share.
void run_tasks(unsigned threads, std::size_t tasks, const std::function<void(std::size_t)>& task);

}  // namespace torvel
