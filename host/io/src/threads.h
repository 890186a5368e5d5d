// The threads a reader spreads one large file over.
#pragma once

#include <cstddef>
#include <functional>

namespace torvel::io::detail {

// Calls `task(k)` once for every k in [0, tasks) on up to `threads` threads (this one included), each
// thread taking the next k as it gets free; returns when all are done. `task` must not throw. When a
// thread cannot be started the others do its share.
void run_tasks(unsigned threads, std::size_t tasks, const std::function<void(std::size_t)>& task);

}  // namespace torvel::io::detail
