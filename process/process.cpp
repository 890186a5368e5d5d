#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "frames.h"

namespace torvel::process {

namespace {

// ---------------------------------------------------------------------------------------------------
// The live children, for the handler that passes SIGTERM and SIGINT on. It runs at any moment, so the
// registry is a fixed array of lock-free slots: 0 is free. More children than slots go unregistered;
// the death signal still ends them with this process.

constexpr std::size_t kSlots = 4096;  // -j takes at most 1024 workers
std::atomic<pid_t> g_live[kSlots];
static_assert(std::atomic<pid_t>::is_always_lock_free);

void remember(pid_t pid) {
    for (std::atomic<pid_t>& slot : g_live) {
        pid_t free = 0;
        if (slot.compare_exchange_strong(free, pid)) return;
    }
}

void forget(pid_t pid) {
    for (std::atomic<pid_t>& slot : g_live) {
        pid_t mine = pid;
        if (slot.compare_exchange_strong(mine, 0)) return;
    }
}

void pass_on(int sig) {
    const int saved = errno;
    for (const std::atomic<pid_t>& slot : g_live)
        if (const pid_t pid = slot.load(std::memory_order_relaxed); pid > 0) (void)::kill(pid, sig);
    // Then the signal's own action, as if no handler had been installed: the process dies of it.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    (void)::sigaction(sig, &dfl, nullptr);
    sigset_t just;
    ::sigemptyset(&just);
    ::sigaddset(&just, sig);
    (void)::raise(sig);
    (void)::pthread_sigmask(SIG_UNBLOCK, &just, nullptr);
    errno = saved;
}

sigset_t forwarded_signals() {
    sigset_t set;
    ::sigemptyset(&set);
    ::sigaddset(&set, SIGTERM);
    ::sigaddset(&set, SIGINT);
    return set;
}

void install_forwarding() {
    static bool installed = false;  // a forked child inherits the flag with the handler
    if (installed) return;
    installed = true;
    for (const int sig : {SIGTERM, SIGINT}) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL) continue;
        struct sigaction act {};
        act.sa_handler = pass_on;
        act.sa_mask = forwarded_signals();
        act.sa_flags = SA_RESTART;
        (void)::sigaction(sig, &act, nullptr);
    }
}

// SIGTERM and SIGINT wait while a child is being started: the parent registers it first, and the child
// forgets the parent's other children first.
class HeldSignals {
public:
    HeldSignals() {
        const sigset_t held = forwarded_signals();
        ::pthread_sigmask(SIG_BLOCK, &held, &before_);
    }
    ~HeldSignals() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;
    const sigset_t& before() const { return before_; }

private:
    sigset_t before_;
};

// ---------------------------------------------------------------------------------------------------
// The child's side.

[[noreturn]] void fail(const char* call) { throw std::system_error(errno, std::generic_category(), call); }

void open_link(Link link, Fd& mine, Fd& theirs) {
    int fds[2];
    if (link == Link::pipe) {
        if (::pipe2(fds, O_CLOEXEC) != 0) fail("pipe");
        // A larger pipe means fewer switches between the two processes; the default size works too.
        (void)::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    } else if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        fail("socketpair");
    }
    mine.reset(fds[0]);
    theirs.reset(fds[1]);
    (void)::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
}

// Every descriptor but 0, 1, 2 and `keep` (3 or more): the parent's files, and the links to its other
// children, whose copies here would keep those children from seeing the parent's end close.
void keep_only(int keep) {
    if (keep > 3 && ::close_range(3, static_cast<unsigned>(keep - 1), 0) != 0) {
        for (int fd = 3; fd < keep; ++fd) (void)::close(fd);
    }
    if (::close_range(static_cast<unsigned>(keep + 1), ~0u, 0) != 0) {  // a kernel before 5.9
        rlimit lim{};
        const int top = ::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY
                            ? static_cast<int>(std::min<rlim_t>(lim.rlim_cur, 1 << 20))
                            : 1 << 16;
        for (int fd = keep + 1; fd < top; ++fd) (void)::close(fd);
    }
}

// The limit counts what the child adds: the parent may hold gigabytes that the child shares and never
// touches, and under AddressSanitizer the address space starts at terabytes of shadow.
void limit_address_space(std::uint64_t bytes) {
    const rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    rlimit lim{};
    ::getrlimit(RLIMIT_AS, &lim);
    const rlim_t as = address_space() + bytes;
    if (lim.rlim_max == RLIM_INFINITY || lim.rlim_max > as) lim.rlim_max = as;
    lim.rlim_cur = lim.rlim_max;
    ::setrlimit(RLIMIT_AS, &lim);
}

[[noreturn]] void become_child(pid_t parent, int fd, const ChildOptions& options, const sigset_t& mask,
                               const std::function<int(int)>& body) {
    // Checked after asking: a parent that died before the request would never send the signal.
    (void)::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(kExitOrphan);
    for (std::atomic<pid_t>& slot : g_live) slot.store(0);  // the parent's children are not this one's
    if (fd <= 2) fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);      // out of the way of stdin and stdout
    if (options.quiet) {
        const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
        }
    }
    keep_only(fd);
    if (options.address_space > 0) limit_address_space(options.address_space);
    ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    int code = kExitUncaught;
    try {
        code = body(fd);
    } catch (...) {
    }
    ::_exit(code);
}

}  // namespace

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

int Fd::release() noexcept { return std::exchange(fd_, -1); }

void Fd::reset(int fd) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

Child Child::start(const ChildOptions& options, const std::function<int(int fd)>& body) {
    install_forwarding();
    Fd mine, theirs;
    open_link(options.link, mine, theirs);
    const pid_t parent = ::getpid();
    const HeldSignals held;
    const pid_t pid = ::fork();
    if (pid < 0) fail("fork");
    if (pid == 0) become_child(parent, theirs.get(), options, held.before(), body);
    remember(pid);
    Child child;
    child.pid_ = pid;
    child.link_ = std::move(mine);
    return child;
}

Child::Child(Child&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)), link_(std::move(other.link_)), exit_fd_(std::move(other.exit_fd_)) {}

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        end();
        pid_ = std::exchange(other.pid_, 0);
        link_ = std::move(other.link_);
        exit_fd_ = std::move(other.exit_fd_);
    }
    return *this;
}

Child::~Child() { end(); }

void Child::end() noexcept {
    link_.reset();
    if (pid_ > 0) {
        kill(SIGKILL);
        (void)reap();
    }
}

void Child::kill(int sig) const {
    if (pid_ > 0) (void)::kill(pid_, sig);
}

int Child::reap() {
    if (pid_ <= 0) return -1;
    // Waited for without reaping first: until it is reaped its pid cannot be reused, so the handler may
    // still pass a signal to it meanwhile, never to a process that took its number.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    forget(pid_);
    int status = 0;
    pid_t r;
    while ((r = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    pid_ = 0;
    exit_fd_.reset();
    return r < 0 ? -1 : status;
}

bool Child::wait_until(Clock::time_point deadline) {
    if (pid_ <= 0) return true;
    // Readable once the child has ended; a kernel before 5.3 has no pidfd.
    if (!exit_fd_) exit_fd_.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
    if (!exit_fd_) return true;
    return wait_readable(exit_fd_.get(), deadline);
}

std::string how_it_ended(int status) {
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char* d = ::sigdescr_np(sig);
        if (!d) return "signal " + std::to_string(sig);
        std::string s = d;
        if (!s.empty() && s[0] >= 'A' && s[0] <= 'Z' && !(s.size() > 1 && s[1] >= 'A' && s[1] <= 'Z'))
            s[0] = static_cast<char>(s[0] - 'A' + 'a');
        // A SIGKILL the parent did not send itself most likely came from the kernel's out-of-memory killer.
        if (sig == SIGKILL) s += ", as when the system runs out of memory";
        return s;
    }
    if (WIFEXITED(status)) return "exit code " + std::to_string(WEXITSTATUS(status));
    return "status " + std::to_string(status);
}

std::uint64_t address_space() {
    const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char buf[128] = {};
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return 0;
    return std::strtoull(buf, nullptr, 10) * static_cast<std::uint64_t>(::sysconf(_SC_PAGE_SIZE));
}

}  // namespace torvel::process
