// The parent's side of an import: start the child, watch the clock, read what it hands back, and turn
// every way it can end into a result or an ImportError naming the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>

#include "child.h"
#include "formats.h"
#include "frames.h"
#include "importer.h"
#include "process.h"
#include "stream.h"

namespace torvel::importer {

namespace {

using process::Clock;

[[noreturn]] void fail(const std::string& file, const std::string& what, ErrorCode code = ErrorCode::import_failed) {
    throw ImportError(file + ": " + what, code);
}

std::string errno_text(int err) { return std::strerror(err); }

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
    const process::Fd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) cannot_open(errno);
    if (st.st_size == 0) fail(name, "the file is empty", ErrorCode::empty_file);
}

std::string seconds_text(double s) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, s);
    return std::string(buf, r.ptr);
}

std::string count_text(std::uint64_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

struct OutOfTime {};

// "cannot read from the importer: ...", or "cannot wait for" it when the wait failed.
[[noreturn]] void fail_io(const std::string& name, const std::system_error& e) {
    const bool waiting = std::string_view(e.what()).starts_with("poll");
    fail(name, std::string(waiting ? "cannot wait for" : "cannot read from") + " the importer: " + e.code().message());
}

// The child's end of the pipe, read under the deadline. The parent only reads from the pipe, so
// SIGPIPE cannot arise on this side.
class PipeSource final : public detail::ByteSource {
public:
    PipeSource(int fd, Clock::time_point deadline, const std::string& name)
        : fd_(fd), deadline_(deadline), name_(name) {}
    bool ended() const { return ended_; }
    std::size_t read(void* data, std::size_t size) override {
        std::optional<std::size_t> n;
        try {
            n = process::read_some(fd_, data, size, deadline_);
        } catch (const std::system_error& e) {
            fail_io(name_, e);
        }
        if (!n) throw OutOfTime{};
        ended_ = *n == 0;
        return *n;
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
    detail::assign_names(r.mesh, d.mesh_indices);
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

    detail::ChildTask task{name.c_str(), importers, megabytes, -1};
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(std::min(limits.seconds, 1e9)));
    // Whatever way the parent leaves import_file, `child` leaves no process running and no zombie behind.
    process::Child child;
    try {
        child = process::Child::start({.link = process::Link::pipe, .quiet = true, .address_space = megabytes << 20},
                                      [&task](int fd) -> int {
                                          task.out_fd = fd;
                                          detail::run_child(task);
                                      });
    } catch (const std::system_error& e) {
        fail(name, "cannot start the importer: " + e.code().message());
    }

    // The stream is decoded as it arrives, while the child is still writing it, and the child's end
    // of the pipe closes when it exits: the decoder's last read, which must find nothing, waits for that.
    enum class Stop { no, out_of_time, garbage } stop = Stop::no;
    std::optional<detail::Decoded> decoded;
    std::string malformed;
    PipeSource source(child.fd(), deadline, name);
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
    // Without a pidfd (a kernel before 5.3) the parent reaps blocking, after the pipe's end has shown
    // that the child is leaving.
    if (stop == Stop::no) {
        try {
            if (!child.wait_until(deadline)) stop = Stop::out_of_time;
        } catch (const std::system_error& e) {
            fail_io(name, e);
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
        fail(name, "the importer crashed (" + process::how_it_ended(st) + ")", ErrorCode::import_crashed);
    if (WIFEXITED(st) && WEXITSTATUS(st) != 0) {
        const int code = WEXITSTATUS(st);
        if (code == detail::kExitMemory)
            fail(name, "the importer needed more than " + std::to_string(limits.megabytes) + " MB",
                 ErrorCode::import_memory);
        if (code == detail::kExitNoResult) fail(name, "the importer could not hand back its result");
        fail(name, "the importer failed (" + process::how_it_ended(st) + ")");
    }
    if (!decoded) fail(name, "the importer sent a malformed result: " + malformed);
    return finish(name, std::move(*decoded));
}

}  // namespace torvel::importer
