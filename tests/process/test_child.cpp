// Children: how they end and the words for it, what they keep of the parent, that none outlives its
// Child or its parent, and SIGTERM and SIGINT passed on to them.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "frames.h"
#include "process.h"
#include "process_test_util.h"

using namespace torvel::process;
using namespace std::chrono_literals;
using proctest::ends_within;

namespace {

int status_of(const std::function<int(int)>& body) {
    Child c = Child::start({}, body);
    return c.reap();
}

[[noreturn]] void die_of(int sig) {
    ::signal(sig, SIG_DFL);  // past any sanitizer's handler
    ::raise(sig);
    ::_exit(100);
}

void expect_reaped(pid_t pid) {
    errno = 0;
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

}  // namespace

TEST(Child, HowItEndedIsOneWordingForEveryEnd) {
    int st = status_of([](int) { return 3; });
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 3);
    EXPECT_EQ(how_it_ended(st), "exit code 3");
    EXPECT_EQ(how_it_ended(status_of([](int) { return 0; })), "exit code 0");
    EXPECT_EQ(how_it_ended(status_of([](int) -> int { throw std::runtime_error("out"); })),
              "exit code " + std::to_string(kExitUncaught));
    EXPECT_EQ(how_it_ended(status_of([](int) -> int { die_of(SIGSEGV); })), "segmentation fault");
    EXPECT_EQ(how_it_ended(status_of([](int) -> int { die_of(SIGABRT); })), "aborted");
    EXPECT_EQ(how_it_ended(status_of([](int) -> int { die_of(SIGKILL); })),
              "killed, as when the system runs out of memory");
    // An abbreviation keeps its capitals.
    EXPECT_EQ(how_it_ended(status_of([](int) -> int { die_of(SIGXCPU); })), "CPU time limit exceeded");
}

// Destroyed, moved over or reaped, a Child leaves no process and no zombie; wait_until tells a child
// that is still running from one that has ended.
TEST(Child, NoneOutlivesItsChild) {
    pid_t pid = 0;
    {
        Child c = Child::start({}, [](int) -> int {
            for (;;) ::pause();
        });
        pid = c.pid();
        ASSERT_GT(pid, 0);
        EXPECT_FALSE(c.wait_until(Clock::now() + 50ms));
    }
    expect_reaped(pid);

    Child a = Child::start({}, [](int) -> int {
        for (;;) ::pause();
    });
    const pid_t first = a.pid();
    a = Child::start({}, [](int) { return 5; });
    expect_reaped(first);
    EXPECT_TRUE(a.wait_until(Clock::now() + 10s));
    const pid_t second = a.pid();
    EXPECT_EQ(WEXITSTATUS(a.reap()), 5);
    EXPECT_EQ(a.pid(), 0);
    EXPECT_EQ(a.reap(), -1);
    expect_reaped(second);
}

// The child copies the parent's unwritten stdio buffers with everything else; however it ends, it never
// writes them.
TEST(Child, TheParentsBufferedOutputIsWrittenOnce) {
    char path[] = "/tmp/torvel_process_XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* f = ::fdopen(fd, "w");
    ASSERT_NE(f, nullptr);
    std::fputs("written once", f);  // still in f's buffer while the children run
    (void)status_of([](int) { return 0; });
    (void)status_of([](int) -> int { throw std::runtime_error("out"); });
    (void)status_of([](int) -> int { die_of(SIGSEGV); });
    std::fclose(f);
    std::FILE* in = std::fopen(path, "r");
    ASSERT_NE(in, nullptr);
    char got[64] = {};
    const std::size_t n = std::fread(got, 1, sizeof got - 1, in);
    std::fclose(in);
    ::unlink(path);
    EXPECT_EQ(std::string(got, n), "written once");
}

// The child keeps its link and 0, 1, 2, nothing else of the parent's: not a file the parent opened
// without close-on-exec, and not the parent's end of another child's link, which would keep that child
// from seeing the parent close it.
TEST(Child, TheChildKeepsOnlyItsLink) {
    const int stray = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 0);
    // Reads until the end of its input: ends only once every copy of the parent's end is closed.
    Child reader = Child::start({.link = Link::socket}, [](int fd) {
        char c;
        while (::read(fd, &c, 1) > 0) {
        }
        return 0;
    });
    Child other = Child::start({.link = Link::socket}, [stray](int fd) {
        const bool link_open = ::fcntl(fd, F_GETFD) >= 0;
        const bool stray_closed = ::fcntl(stray, F_GETFD) < 0 && errno == EBADF;
        if (!link_open || !stray_closed) return 1;
        char c;
        while (::read(fd, &c, 1) > 0) {
        }
        return 0;
    });
    ::close(stray);
    reader.close_link();
    const bool ended = reader.wait_until(Clock::now() + 10s);
    EXPECT_TRUE(ended) << "another child holds the parent's end of the link";
    if (!ended) reader.kill();
    EXPECT_EQ(reader.reap(), 0);
    other.close_link();
    EXPECT_EQ(other.reap(), 0);
}

// quiet: stdin and stdout are /dev/null. address_space: what the child may add, no core dumps.
TEST(Child, OptionsApplyInTheChildOnly) {
    Child c = Child::start({.quiet = true}, [](int) {
        struct stat null {
        }, in{}, out{};
        if (::stat("/dev/null", &null) != 0 || ::fstat(0, &in) != 0 || ::fstat(1, &out) != 0) return 1;
        return in.st_rdev == null.st_rdev && out.st_rdev == null.st_rdev && S_ISCHR(out.st_mode) ? 0 : 2;
    });
    EXPECT_EQ(c.reap(), 0);

    Child limited = Child::start({.address_space = 64 << 20}, [](int) {
        rlimit core{};
        if (::getrlimit(RLIMIT_CORE, &core) != 0 || core.rlim_cur != 0) return 1;
        // Past the limit: refused. Within it: granted.
        if (::mmap(nullptr, 256 << 20, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != MAP_FAILED) return 2;
        if (::mmap(nullptr, 16 << 20, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) == MAP_FAILED) return 3;
        return 0;
    });
    EXPECT_EQ(limited.reap(), 0);
    void* here = ::mmap(nullptr, 256 << 20, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(here, MAP_FAILED);
    if (here != MAP_FAILED) ::munmap(here, 256 << 20);
}

// A parent killed outright (nothing passed on) still takes its child along: the death signal.
TEST(Child, AChildDiesWithItsParent) {
    int from = -1;
    const pid_t parent = proctest::fork_stand_in(
        [](int report) {
            Child c = Child::start({}, [](int) -> int {
                for (;;) ::pause();
            });
            proctest::send_pid(report, c.pid());
            proctest::wait_for_signals();
        },
        &from);
    ASSERT_GT(parent, 0);
    const pid_t child = proctest::receive_pid(from);
    ::close(from);
    ASSERT_GT(child, 0);
    ::kill(parent, SIGKILL);
    ::waitpid(parent, nullptr, 0);
    EXPECT_TRUE(ends_within(child, 1s));
    ::kill(child, SIGKILL);  // not ours to reap: it went to another parent
}

// SIGTERM or SIGINT on a parent reaches its children before the parent dies of it, also down a chain
// (a child's own children, as a worker's importer), and never depends on the death signal: here every
// process has it turned off.
TEST(Child, TerminationSignalsArePassedOnDownTheChain) {
    for (const int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig);
        int from = -1;
        const pid_t parent = proctest::fork_stand_in(
            [](int report) {
                Child middle = Child::start({.link = Link::pipe}, [](int up) -> int {
                    ::prctl(PR_SET_PDEATHSIG, 0);
                    Child last = Child::start({}, [](int) -> int {
                        ::prctl(PR_SET_PDEATHSIG, 0);
                        for (;;) ::pause();
                    });
                    const pid_t pid = last.pid();
                    (void)write_all(up, &pid, sizeof pid);
                    for (;;) ::pause();
                });
                pid_t last = 0;
                if (read_some(middle.fd(), &last, sizeof last, Clock::now() + 10s) != sizeof last) ::_exit(1);
                proctest::send_pid(report, middle.pid());
                proctest::send_pid(report, last);
                proctest::wait_for_signals();
            },
            &from);
        ASSERT_GT(parent, 0);
        const pid_t middle = proctest::receive_pid(from);
        const pid_t last = proctest::receive_pid(from);
        ::close(from);
        ASSERT_GT(middle, 0);
        ASSERT_GT(last, 0);
        ::kill(parent, sig);
        int st = 0;
        ::waitpid(parent, &st, 0);
        EXPECT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == sig) << st;
        EXPECT_TRUE(ends_within(middle, 1s));
        EXPECT_TRUE(ends_within(last, 1s));
        ::kill(middle, SIGKILL);
        ::kill(last, SIGKILL);
    }
}

// An ignored signal stays ignored (a program's own handler stays its own the same way): the parent lives
// on, and its child with it.
TEST(Child, AProgramsOwnSignalActionIsKept) {
    int from = -1;
    const pid_t parent = proctest::fork_stand_in(
        [](int report) {
            ::signal(SIGTERM, SIG_IGN);
            Child kid = Child::start({}, [](int) -> int {
                for (;;) ::pause();
            });
            struct sigaction now {};
            ::sigaction(SIGTERM, nullptr, &now);
            proctest::send_pid(report, now.sa_handler == SIG_IGN ? kid.pid() : 0);
            proctest::wait_for_signals();
        },
        &from);
    const pid_t kid = proctest::receive_pid(from);
    ::close(from);
    EXPECT_GT(kid, 0) << "SIGTERM no longer ignored";
    ::kill(parent, SIGTERM);
    EXPECT_FALSE(ends_within(parent, 100ms));
    ::kill(parent, SIGKILL);
    ::waitpid(parent, nullptr, 0);
    EXPECT_TRUE(ends_within(kid, 1s));
    ::kill(kid, SIGKILL);
}
