// Child processes that run a function of this program: the -j workers of torvel check and the importer's
// child. One Child is one forked process and the parent's end of the link to it; frames.h carries bytes
// over that link.
//
// Callers fork from a single thread (a fork copies only the calling thread) and must not ignore SIGCHLD
// (SIG_IGN reaps children behind reap()'s back).
//
// Every child dies with its parent: it asks for SIGKILL at its parent's death, and a parent that was
// already gone by then makes it leave at once (kExitOrphan). And while a child lives, SIGTERM and SIGINT
// that reach the parent are passed on to it before the parent dies of them: the first start() installs
// that handler for each of the two signals whose action is still the default (an ignored signal stays
// ignored, a handler of the program's own stays its own).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

namespace torvel::process {

// An owned file descriptor, closed when the Fd goes or is reset; -1 is none.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) noexcept : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // Gives up ownership: the caller closes what this returns.
    int release() noexcept;
    void reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

using Clock = std::chrono::steady_clock;
inline constexpr Clock::time_point kNever = Clock::time_point::max();  // no deadline

// Exit statuses of a child that never finished its function.
inline constexpr int kExitOrphan = 88;    // its parent was gone before the child was set up
inline constexpr int kExitUncaught = 89;  // the function let an exception out

enum class Link {
    pipe,    // child to parent only (the child writes, the parent reads), with a pipe buffer of 1 MB
    socket,  // both ways: a Unix stream socket pair
};

struct ChildOptions {
    Link link = Link::pipe;
    // stdin and stdout become /dev/null in the child (stderr stays, for a sanitizer's report): a child that
    // prints never reaches the parent's output.
    bool quiet = false;
    // Bytes the child may add to the address space it had at the fork (RLIMIT_AS, so that the parent's own
    // memory, shared copy-on-write, does not count), and no core dumps; 0: no limit.
    std::uint64_t address_space = 0;
};

class Child {
public:
    // Forks a child that runs body(fd), fd being its end of the link (blocking), and ends in
    // _exit(what body returns), kExitUncaught when it throws. Before body the child dies with its parent
    // (see above), keeps no descriptor but 0, 1, 2 and fd (the parent's files and its other children's
    // links are closed), and applies `options`. It never returns into the caller's code: neither the
    // parent's destructors nor its atexit handlers run in it, and stdio buffers it inherited are never
    // written (flush what must be written before starting a child).
    // The parent's end is non-blocking and close-on-exec. Throws std::system_error when the link or the
    // fork cannot be made.
    static Child start(const ChildOptions& options, const std::function<int(int fd)>& body);

    Child() = default;  // no child
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;
    // A child not yet reaped is killed (SIGKILL) and reaped: none is left running, no zombie behind.
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }      // 0: none, or reaped
    int fd() const { return link_.get(); }  // the parent's end; -1 after close_link()
    // Closes the parent's end: a child reading from it sees the end of its input.
    void close_link() { link_.reset(); }
    void kill(int sig = SIGKILL) const;  // nothing once reaped
    // Blocks until the child has ended (restarting after signals) and reaps it: its wait status, or -1
    // when there was none to reap or it was reaped elsewhere. pid() is 0 afterwards.
    int reap();
    // Waits until the child has ended or the deadline has passed, without reaping it: false at the
    // deadline. Returns true at once where the kernel cannot tell (no pidfd): reap() then blocks.
    // Throws std::system_error when the wait fails.
    bool wait_until(Clock::time_point deadline);

private:
    void end() noexcept;
    pid_t pid_ = 0;
    Fd link_;
    Fd exit_fd_;  // a pidfd, opened by the first wait_until
};

// How a child ended, from its wait status, for messages: "segmentation fault", "aborted", "killed, as
// when the system runs out of memory", "exit code 3". The signal's description (never translated) with
// a first capital made small unless the word is an abbreviation ("CPU time limit exceeded").
std::string how_it_ended(int status);

// The address space of this process in bytes now (0 when /proc cannot tell), as RLIMIT_AS counts it.
std::uint64_t address_space();

}  // namespace torvel::process
