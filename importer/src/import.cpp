// The parent's side of an import: start the child, watch the clock, read what it hands back, and turn
// every way it can end into a result or an ImportError naming the file.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>
#include <string>

#include "child.h"
#include "formats.h"
#include "importer.h"
#include "stream.h"

namespace torvel::importer {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& file, const std::string& what, ErrorCode code = ErrorCode::import_failed) {
    throw ImportError(file + ": " + what, code);
}

std::string errno_text(int err) { return std::strerror(err); }

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Only what an error message can say before the child starts: the rest is Assimp's to judge. A FIFO
// is not opened for reading (that would block until a writer came), only looked at.
void check_file(const std::string& name) {
    struct stat st {};
    auto cannot_open = [&name](int err) {
        fail(name, "cannot open: " + errno_text(err), err == ENOENT ? ErrorCode::not_found : ErrorCode::unreadable);
    };
    if (::stat(name.c_str(), &st) != 0) cannot_open(errno);
    if (S_ISDIR(st.st_mode)) fail(name, "is a directory, not a mesh file", ErrorCode::is_folder);
    if (!S_ISREG(st.st_mode)) fail(name, "is not a regular file", ErrorCode::unreadable);
    const Fd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) cannot_open(errno);
    if (st.st_size == 0) fail(name, "the file is empty", ErrorCode::empty_file);
}

std::string seconds_text(double s) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, s);
    return std::string(buf, r.ptr);
}

// "segmentation fault", "aborted": the signal's description in lower case, never translated.
std::string signal_words(int sig) {
    const char* d = ::sigdescr_np(sig);
    if (!d) return "signal " + std::to_string(sig);
    std::string s = d;
    if (!s.empty() && s[0] >= 'A' && s[0] <= 'Z' && !(s.size() > 1 && s[1] >= 'A' && s[1] <= 'Z'))
        s[0] = static_cast<char>(s[0] - 'A' + 'a');
    return s;
}

std::string count_text(std::uint64_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// The child until it is reaped: whatever way the parent leaves import_file, no child is left running
// and no zombie is left behind.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {}
    ~Child() {
        if (pid_ > 0) {
            kill();
            (void)reap();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void kill() { ::kill(pid_, SIGKILL); }
    // Blocks until the child has ended; its wait status, or -1 when it was reaped elsewhere.
    int reap() {
        int status = 0;
        pid_t r;
        while ((r = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
        }
        pid_ = 0;
        return r < 0 ? -1 : status;
    }

private:
    pid_t pid_;
};

int remaining_ms(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

struct OutOfTime {};

// Waits until `fd` is readable (or has hung up); throws OutOfTime at the deadline.
void wait_readable(int fd, Clock::time_point deadline, const std::string& name) {
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ms = remaining_ms(deadline);
        if (ms == 0) throw OutOfTime{};
        const int n = ::poll(&p, 1, ms);
        if (n > 0) return;
        if (n < 0 && errno != EINTR) fail(name, "cannot wait for the importer: " + errno_text(errno));
    }
}

// The child's end of the pipe, read under the deadline. The parent only reads from the pipe, so
// SIGPIPE cannot arise on this side.
class PipeSource final : public detail::ByteSource {
public:
    PipeSource(int fd, Clock::time_point deadline, const std::string& name)
        : fd_(fd), deadline_(deadline), name_(name) {}
    bool ended() const { return ended_; }
    std::size_t read(void* data, std::size_t size) override {
        for (;;) {
            const ssize_t n = ::read(fd_, data, size);
            if (n == 0) ended_ = true;
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno == EAGAIN)
                wait_readable(fd_, deadline_, name_);
            else if (errno != EINTR)
                fail(name_, "cannot read from the importer: " + errno_text(errno));
        }
    }

private:
    int fd_;
    Clock::time_point deadline_;
    const std::string& name_;
    bool ended_ = false;
};

ImportResult finish(const std::string& name, detail::Decoded d) {
    if (d.kind != detail::Kind::result) fail(name, d.text);
    ImportResult r = std::move(d.result);
    detail::assign_names(r.mesh.objects, d.mesh_indices);
    if (r.skipped_lines > 0 || r.skipped_points > 0) {
        std::string what;
        if (r.skipped_lines > 0) what = count_text(r.skipped_lines, "line");
        if (r.skipped_points > 0) what += (what.empty() ? "" : " and ") + count_text(r.skipped_points, "point");
        r.mesh.warnings.push_back(name + ": skipped " + what);
    }
    // Not an error: some of Assimp's readers take files they cannot make sense of as empty scenes.
    if (r.mesh.objects.empty()) r.mesh.warnings.push_back(name + ": the file holds no polygons");
    return r;
}

}  // namespace

ImportResult import_file(const std::filesystem::path& path, const Limits& limits) {
    const std::string name = path.string();
    if (!(limits.seconds > 0) || limits.megabytes == 0)
        throw std::invalid_argument("import_file: the time and memory limits must be positive");

    const std::vector<std::size_t> importers = detail::importers_for(path.filename().string());
    if (importers.empty()) {
        if (!path.has_extension())
            fail(name, "no file extension, cannot tell the mesh format", ErrorCode::unknown_format);
        fail(name, "no importer for \"" + path.extension().string() + "\" files", ErrorCode::unknown_format);
    }
    check_file(name);
    const std::uint64_t megabytes = std::min<std::uint64_t>(limits.megabytes, 1ull << 30);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) fail(name, "cannot start the importer: " + errno_text(errno));
    Fd from_child(fds[0]), to_parent(fds[1]);
    // A larger pipe means fewer switches between the two processes; the default size works too.
    (void)::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    (void)::fcntl(fds[0], F_SETFL, O_NONBLOCK);  // the read end only: the child writes blocking

    const detail::ChildTask task{name.c_str(), importers, megabytes, to_parent.get(), ::getpid()};
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(std::min(limits.seconds, 1e9)));
    const pid_t pid = ::fork();
    if (pid < 0) fail(name, "cannot start the importer: " + errno_text(errno));
    if (pid == 0) detail::run_child(task);
    Child child(pid);
    to_parent.reset();
    // Readable once the child has ended; without it (a kernel before 5.3) the parent waits blocking,
    // after the pipe's end has shown that the child is leaving.
    const Fd exit_fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));

    // The stream is decoded as it arrives, while the child is still writing it, and the child's end
    // of the pipe closes when it exits: the decoder's last read, which must find nothing, waits for that.
    enum class Stop { no, out_of_time, garbage } stop = Stop::no;
    std::optional<detail::Decoded> decoded;
    std::string malformed;
    PipeSource source(from_child.get(), deadline, name);
    try {
        decoded = detail::decode_stream(source, megabytes << 20);
    } catch (const detail::StreamError& e) {
        malformed = e.what();
        // Cut short by its end, the stream tells of a child that is leaving (its status will say how);
        // otherwise the child is sending nonsense and may still be at it.
        if (!source.ended()) stop = Stop::garbage;
    } catch (const OutOfTime&) {
        stop = Stop::out_of_time;
    } catch (const std::bad_alloc&) {
        fail(name, "the importer's result does not fit in memory", ErrorCode::out_of_memory);  // the child is stopped
    }
    if (stop == Stop::no && exit_fd.get() >= 0) {
        try {
            wait_readable(exit_fd.get(), deadline, name);
        } catch (const OutOfTime&) {
            stop = Stop::out_of_time;
        }
    }
    if (stop != Stop::no) child.kill();
    const int st = child.reap();

    // A child stopped by the deadline after it sent a complete stream only lost its teardown.
    if (stop == Stop::out_of_time && !decoded)
        fail(name, "the importer gave up after " + seconds_text(limits.seconds) + " s", ErrorCode::import_timeout);
    if (stop == Stop::garbage) fail(name, "the importer sent a malformed result: " + malformed);
    if (st < 0) fail(name, "the importer's exit status was lost (is SIGCHLD ignored?)");
    if (stop == Stop::no && WIFSIGNALED(st))
        fail(name, "the importer crashed (" + signal_words(WTERMSIG(st)) + ")", ErrorCode::import_crashed);
    if (WIFEXITED(st) && WEXITSTATUS(st) != 0) {
        const int code = WEXITSTATUS(st);
        if (code == detail::kExitMemory)
            fail(name, "the importer needed more than " + std::to_string(limits.megabytes) + " MB",
                 ErrorCode::import_memory);
        if (code == detail::kExitNoResult) fail(name, "the importer could not hand back its result");
        fail(name, "the importer failed (exit status " + std::to_string(code) + ")");
    }
    if (!decoded) fail(name, "the importer sent a malformed result: " + malformed);
    return finish(name, std::move(*decoded));
}

}  // namespace torvel::importer
