// What the process tests share (and torvel's, of its workers): a plain fork that stands in for a parent
// process, a process's descendants, and telling whether a process has ended.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <vector>

namespace proctest {

// Forks a process (not through process::Child) that runs f(report), report being the write end of a
// pipe whose read end is *from. f ends in wait_for_signals(), so that the children it holds live on; the
// process never returns into the test.
pid_t fork_stand_in(const std::function<void(int report)>& f, int* from);
[[noreturn]] void wait_for_signals();

// Writes a pid to `fd`; reads one back (0 when the writer went first).
void send_pid(int fd, pid_t pid);
pid_t receive_pid(int fd);

// The processes below `pid` now: its children, theirs, and so on (from /proc/PID/task/*/children).
std::vector<pid_t> descendants(pid_t pid);

// Whether the process has ended (gone, or a zombie not reaped yet) by the end of `within`.
bool ends_within(pid_t pid, std::chrono::milliseconds within);

}  // namespace proctest
