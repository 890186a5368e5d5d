// The import child: everything that runs between fork and _exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace torvel::importer::detail {

// Exit statuses the parent maps to messages (0: the whole stream was written; process.h has the others).
inline constexpr int kExitMemory = 86;    // an allocation failed under the memory limit
inline constexpr int kExitNoResult = 87;  // the stream could not be written

struct ChildTask {
    const char* path = nullptr;          // the file, as the caller named it
    std::vector<std::size_t> importers;  // detail::importers_for(path), at least one
    std::uint64_t megabytes = 0;         // address space the import may add (the limit is process::Child's)
    int out_fd = -1;                     // write end of the pipe to the parent, blocking
};

// The function of the process::Child that imports (set up as process.h says, limited to task.megabytes):
// never returns, imports, writes the stream (stream.h) to out_fd and calls _exit. The environment
// variable TORVEL_TEST_IMPORTER_FAULT=crash|hang|memory makes it fail that way instead, for the tests.
[[noreturn]] void run_child(const ChildTask& task);

}  // namespace torvel::importer::detail
