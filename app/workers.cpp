// torvel check -j: forked worker processes, one socket each, and the framed results they send back.
#include <poll.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>
#include <system_error>

#include "check.h"
#include "frames.h"
#include "host.h"
#include "mesh_io.h"
#include "process.h"
#include "work_threads.h"

namespace torvel::app {

namespace {

// Worker to parent, one frame (frames.h) per message, its payload: u8 type, u32 file index, then
//   'L' a log entry of the file: i32 severity, UTF-8 text;
//   'R' checked: f64 tolerance, u32 polygons, u32 count, count x u32 indices (ascending, below polygons),
//       u8 precision (0 double, 1 single), u32 objects, per object: u32 name size, UTF-8 name (not empty),
//       u32 polygons, u32 count, count x u32 indices; the objects' polygons add up to the file's and their
//       indices, each shifted by the polygons before the object, are the file's;
//   'M' what the file's measures gave, just before its 'R': u8 histogram present, then 11 x u64 (bands,
//       degenerate, at_90, small, not_finite) when it is; u32 count, count details (u32 index, u32
//       vertices, u32 line + 1 or 0, u8 bend / degenerate / out-of-plane present, f64 bend, u32 corner,
//       u8 cause, f64 out of plane, u32 length, the object's UTF-8 name); u64 length, the PNG's bytes;
//   'E' the file could not be checked, 'F' the run must stop: u8 the ErrorCode, a UTF-8 message, not empty.
// Parent to worker: a frame of a u32 file index per task; the parent closing its end tells the worker to
// stop. Both ends are this program on this machine, so numbers are in its byte order. The parent still
// checks every frame: a worker may have been overwritten by the plug-in it ran.
constexpr std::uint64_t kFrameHead = 1 + 4;
constexpr std::uint64_t kMaxFrame = kFrameHead + 16 + 4ull * 0xffffffffull;

template <class T>
void put(std::string& s, T v) {
    char b[sizeof v];
    std::memcpy(b, &v, sizeof v);
    s.append(b, sizeof v);
}

template <class T>
T get(const char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::string frame(char type, std::size_t index, std::string_view body) {
    std::string s;
    s.reserve(process::kFrameLength + kFrameHead + body.size());
    const std::size_t begin = process::begin_frame(s);
    s += type;
    put(s, static_cast<std::uint32_t>(index));
    s += body;
    process::end_frame(s, begin);
    return s;
}

std::string measures_body(const Measures& m) {
    std::string body;
    put(body, static_cast<std::uint8_t>(m.histogram.has_value()));
    if (m.histogram) {
        for (const std::uint64_t c : m.histogram->bands) put(body, c);
        for (const std::uint64_t c :
             {m.histogram->degenerate, m.histogram->at_90, m.histogram->small, m.histogram->not_finite})
            put(body, c);
    }
    put(body, static_cast<std::uint32_t>(m.details.size()));
    for (const PolygonDetail& d : m.details) {
        put(body, d.index);
        put(body, d.vertices);
        put(body, d.line ? *d.line + 1 : 0u);
        put(body, static_cast<std::uint8_t>(d.bend.has_value() | d.degenerate.has_value() << 1 |
                                            d.out_of_plane.has_value() << 2));
        put(body, d.bend.value_or(0));
        put(body, d.degenerate ? d.degenerate->corner : 0u);
        put(body, static_cast<std::uint8_t>(d.degenerate ? d.degenerate->cause : geometry::DegenerateCause{}));
        put(body, d.out_of_plane.value_or(0));
        put(body, static_cast<std::uint32_t>(d.object.size()));
        body += d.object;
    }
    put(body, static_cast<std::uint64_t>(m.image.size()));
    body.append(reinterpret_cast<const char*>(m.image.data()), m.image.size());
    return body;
}

// Reads a body front to back; any read past its end makes it malformed.
class BodyReader {
public:
    explicit BodyReader(std::string_view body) : rest_(body) {}
    template <class T>
    bool read(T& v) {
        if (rest_.size() < sizeof v) return false;
        v = get<T>(rest_.data());
        rest_.remove_prefix(sizeof v);
        return true;
    }
    bool read(std::string_view& bytes, std::uint64_t length) {
        if (rest_.size() < length) return false;
        bytes = rest_.substr(0, static_cast<std::size_t>(length));
        rest_.remove_prefix(static_cast<std::size_t>(length));
        return true;
    }
    bool done() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

bool read_measures(std::string_view body, Measures& m) {
    BodyReader in(body);
    std::uint8_t has_histogram = 0;
    if (!in.read(has_histogram) || has_histogram > 1) return false;
    if (has_histogram) {
        geometry::BendHistogram& h = m.histogram.emplace();
        for (std::uint64_t& c : h.bands)
            if (!in.read(c)) return false;
        if (!in.read(h.degenerate) || !in.read(h.at_90) || !in.read(h.small) || !in.read(h.not_finite)) return false;
    }
    std::uint32_t count = 0;
    if (!in.read(count) || count > body.size() / 38) return false;  // each detail takes at least 38 bytes
    m.details.resize(count);
    for (PolygonDetail& d : m.details) {
        std::uint32_t line = 0, corner = 0, name_length = 0;
        std::uint8_t present = 0, cause = 0;
        double bend = 0, out_of_plane = 0;
        std::string_view name;
        if (!in.read(d.index) || !in.read(d.vertices) || !in.read(line) || !in.read(present) || !in.read(bend) ||
            !in.read(corner) || !in.read(cause) || !in.read(out_of_plane) || !in.read(name_length) ||
            !in.read(name, name_length) || present > 7)
            return false;
        if (line > 0) d.line = line - 1;
        if (present & 1) d.bend = bend;
        if (present & 2) d.degenerate = geometry::Degenerate{corner, static_cast<geometry::DegenerateCause>(cause)};
        if (present & 4) d.out_of_plane = out_of_plane;
        if (cause > static_cast<std::uint8_t>(geometry::DegenerateCause::collinear)) return false;
        d.object = std::string(name);
    }
    std::uint64_t image_length = 0;
    std::string_view image;
    if (!in.read(image_length) || !in.read(image, image_length) || !in.done()) return false;
    m.image.assign(image.begin(), image.end());
    return true;
}

// A worker's measures agree with its result: details of reported polygons only, each once, in the order
// of worse_detail, with values in their ranges; a histogram that counts every polygon once; a PNG.
bool measures_fit(const Measures& m, const FileResult& r) {
    for (std::size_t i = 0; i < m.details.size(); ++i) {
        const PolygonDetail& d = m.details[i];
        if (!std::binary_search(r.non_planar.begin(), r.non_planar.end(), d.index) || d.vertices < 3 ||
            (i > 0 && !worse_detail(m.details[i - 1], d)))
            return false;
        if (d.bend && (d.degenerate || *d.bend < 0 || *d.bend > 90)) return false;
        if (d.degenerate && d.degenerate->corner >= d.vertices) return false;
        if (d.out_of_plane && !(*d.out_of_plane >= 0 && std::isfinite(*d.out_of_plane))) return false;
    }
    if (m.histogram) {
        const geometry::BendHistogram& h = *m.histogram;
        std::uint64_t all = h.degenerate + h.small + h.not_finite;
        for (const std::uint64_t c : h.bands) {
            if (c > r.polygons) return false;
            all += c;
        }
        if (all != r.polygons || h.at_90 > h.bands.back()) return false;
    }
    static constexpr unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    return m.image.empty() || (m.image.size() > sizeof kPng && std::equal(kPng, kPng + sizeof kPng, m.image.begin()));
}

std::string outcome_frame(std::size_t index, const FileOutcome& out) {
    if (out.kind != FileOutcome::Kind::checked)
        return frame(out.kind == FileOutcome::Kind::error ? 'E' : 'F', index,
                     static_cast<char>(out.code) + out.message);
    const Measures& m = out.measures;
    std::string measures;
    if (m.histogram || !m.details.empty() || !m.image.empty()) measures = frame('M', index, measures_body(m));
    std::string body;
    body.reserve(16 + 4 * out.result.non_planar.size());
    put(body, out.tolerance);
    put(body, out.result.polygons);
    put(body, static_cast<std::uint32_t>(out.result.non_planar.size()));
    body.append(reinterpret_cast<const char*>(out.result.non_planar.data()), 4 * out.result.non_planar.size());
    body += static_cast<char>(out.result.precision == "single");
    put(body, static_cast<std::uint32_t>(out.result.objects.size()));
    for (const ObjectResult& o : out.result.objects) {
        put(body, static_cast<std::uint32_t>(o.name.size()));
        body += o.name;
        put(body, static_cast<std::uint32_t>(o.source_name.size()));
        body += o.source_name;
        put(body, o.polygons);
        put(body, static_cast<std::uint32_t>(o.non_planar.size()));
        body.append(reinterpret_cast<const char*>(o.non_planar.data()), 4 * o.non_planar.size());
    }
    return measures + frame('R', index, body);
}

// In a worker: the parent is gone or broken when this fails, so the worker ends.
void send_all(int fd, std::string_view bytes) {
    if (!process::write_all(fd, bytes)) ::_exit(1);
}

bool named_by_env(const char* variable, const MeshInput& input) {
    const char* name = std::getenv(variable);
    return name && *name && fs::path(input.path).filename() == name;
}

// Tests make a worker fail on a file named by these variables: its crash, and a worker sending what
// the parent must refuse, are otherwise not reachable from outside.
void test_faults(int fd, std::size_t index, const MeshInput& input) {
    if (named_by_env("TORVEL_TEST_WORKER_CRASH", input)) {
        std::signal(SIGSEGV, SIG_DFL);  // past any sanitizer's handler: the crash a plug-in would cause
        std::raise(SIGSEGV);
    }
    // Indices out of order; or objects that leave out the file's non-planar polygon 1.
    const bool garbage = named_by_env("TORVEL_TEST_WORKER_GARBAGE", input);
    if (garbage || named_by_env("TORVEL_TEST_WORKER_GARBAGE_OBJECTS", input)) {
        FileOutcome bogus;
        bogus.kind = FileOutcome::Kind::checked;
        bogus.result.polygons = 2;
        bogus.result.non_planar = garbage ? std::vector<std::uint32_t>{1, 0} : std::vector<std::uint32_t>{1};
        bogus.result.objects = {{"a", 1, {}, {}}, {"b", 1, {}, {}}};
        send_all(fd, outcome_frame(index, bogus));
    }
}

// The child's whole life: its own host, tasks until the parent closes the socket; returns the exit
// status. The child never runs the parent's destructors (its log sink, its host): everything of the
// parent's stays as the fork left it.
int worker_main(int fd, std::span<const MeshInput> inputs, const CheckOne& check) {
    int code = 0;
    try {
        host::Host host;
        const host::HostScope bound(host);
        std::size_t current = 0;
        // A file's log goes out with its outcome, in one write: a frame per message would wake the
        // parent for each. A log that grows large is sent on the way.
        std::string pending;
        host.log().set_observer([fd, &current, &pending](const host::LogEntry& e) {
            std::string body;
            put(body, static_cast<std::int32_t>(e.severity));
            body += to_utf8(e.text);
            pending += frame('L', current, body);
            if (pending.size() >= (1 << 16)) {
                send_all(fd, pending);
                pending.clear();
            }
        });
        process::FrameReader tasks(4);
        for (std::string_view task; tasks.read(fd, task) == process::FrameReader::Status::frame;) {
            const auto index = task.size() == 4 ? get<std::uint32_t>(task.data()) : inputs.size();
            if (index >= inputs.size()) {
                code = 3;
                break;
            }
            current = index;
            test_faults(fd, index, inputs[index]);
            FileOutcome out;
            try {
                out = check(host, inputs[index]);
            } catch (const std::exception& e) {
                out.kind = FileOutcome::Kind::fatal;
                out.message = e.what();
                out.code = code_of(e, ErrorCode::internal);
            }
            if (out.kind != FileOutcome::Kind::checked && out.message.empty()) out.message = inputs[index].path;
            // Tests: measures that disagree with the verdict (a detail of a polygon the filter kept out).
            if (out.kind == FileOutcome::Kind::checked &&
                named_by_env("TORVEL_TEST_WORKER_BAD_MEASURES", inputs[index]))
                out.measures.details.push_back({out.result.polygons, "bogus", 4, {}, 1.0, {}, {}});
            pending += outcome_frame(index, out);
            send_all(fd, pending);
            pending.clear();
        }
        host.log().set_observer({});
    } catch (...) {
        code = 4;
    }
    return code;
}

// Ascending indices below `limit`, u32 each, from `count` at body[at] on; `at` moves past them.
bool read_indices(std::string_view body, std::size_t& at, std::uint32_t limit, std::vector<std::uint32_t>& out) {
    if (body.size() - at < 4) return false;
    const auto count = get<std::uint32_t>(body.data() + at);
    at += 4;
    if (count > limit || (body.size() - at) / 4 < count) return false;
    out.resize(count);
    if (count > 0) std::memcpy(out.data(), body.data() + at, 4ull * count);
    at += 4ull * count;
    for (std::uint32_t i = 0; i < count; ++i)
        if (out[i] >= limit || (i > 0 && out[i] <= out[i - 1])) return false;
    return true;
}

// The objects after the file's indices in an 'R' body, checked against the file's result.
bool read_objects(std::string_view body, std::size_t at, FileResult& r) {
    if (body.size() - at < 5) return false;
    const auto precision = static_cast<unsigned char>(body[at]);
    if (precision > 1) return false;
    r.precision = precision ? "single" : "double";
    const auto count = get<std::uint32_t>(body.data() + at + 1);
    at += 5;
    if (count > std::uint64_t{r.polygons} + 1 || (body.size() - at) / 16 < count) return false;
    std::uint64_t first = 0;
    std::size_t k = 0;  // the next of the file's indices to match
    r.objects.resize(count);
    for (ObjectResult& o : r.objects) {
        if (body.size() - at < 4) return false;
        const auto size = get<std::uint32_t>(body.data() + at);
        at += 4;
        if (size == 0 || body.size() - at < size + 4ull) return false;
        o.name.assign(body.data() + at, size);
        at += size;
        const auto source_size = get<std::uint32_t>(body.data() + at);
        at += 4;
        if (body.size() - at < source_size + 4ull) return false;
        o.source_name.assign(body.data() + at, source_size);
        at += source_size;
        o.polygons = get<std::uint32_t>(body.data() + at);
        at += 4;
        if (!read_indices(body, at, o.polygons, o.non_planar)) return false;
        for (const std::uint32_t i : o.non_planar)
            if (k >= r.non_planar.size() || r.non_planar[k++] != first + i) return false;
        first += o.polygons;
    }
    return at == body.size() && first == r.polygons && k == r.non_planar.size();
}

// The last frame of outcome_frame's, read back: 'R' (checked, held against the measures that came
// before it), 'E' or 'F'. false when the body is malformed or the type none of these.
bool read_outcome(char type, std::string_view body, FileOutcome& out) {
    switch (type) {
        case 'R': {
            if (body.size() < 16) return false;
            out.tolerance = get<double>(body.data());
            out.result.polygons = get<std::uint32_t>(body.data() + 8);
            std::size_t at = 12;
            if (!std::isfinite(out.tolerance) || out.tolerance < 0 || out.tolerance > 90 ||
                !read_indices(body, at, out.result.polygons, out.result.non_planar) ||
                !read_objects(body, at, out.result) || !measures_fit(out.measures, out.result))
                return false;
            out.kind = FileOutcome::Kind::checked;
            return true;
        }
        case 'E':
        case 'F':
            if (body.size() < 2 || static_cast<std::uint8_t>(body[0]) >= kErrors.size()) return false;
            out.kind = type == 'E' ? FileOutcome::Kind::error : FileOutcome::Kind::fatal;
            out.code = static_cast<ErrorCode>(body[0]);
            out.message = std::string(body.substr(1));
            return true;
        default: return false;
    }
}

// Files queued on one worker at a time.
constexpr std::size_t kQueued = 2;

// The readers' threads (TORVEL_THREADS or one per core) shared out among `workers` processes running
// at once, so that together they use the cores without crowding them: at least one each.
unsigned threads_per_worker(std::size_t workers) {
    return static_cast<unsigned>(std::max<std::size_t>(1, work_threads() / std::max<std::size_t>(1, workers)));
}

class Pool {
public:
    // Workers still there when the pool goes (a delivery threw) are killed with their process::Child.
    Pool(std::span<const MeshInput> inputs, const CheckOne& check) : inputs_(inputs), check_(check) {}
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    void run(std::size_t jobs, const Deliver& deliver) {
        std::size_t checkable = 0;
        for (const MeshInput& in : inputs_) checkable += in.error.empty();
        const std::size_t count = std::min(jobs, checkable);
        work_threads_ = threads_per_worker(count);
        for (std::size_t i = 0; i < count; ++i) workers_.push_back(spawn());
        const std::size_t window = (kQueued + 1) * jobs;
        while (delivered_ < inputs_.size()) {
            dispatch(window);
            bool delivered = false;
            for (auto it = done_.find(delivered_); it != done_.end(); it = done_.find(delivered_)) {
                FileOutcome out = std::move(it->second);
                done_.erase(it);
                deliver(delivered_++, std::move(out));
                delivered = true;
            }
            // Delivering opens the window for more entries: hand those out before waiting.
            if (!delivered && delivered_ < inputs_.size()) wait_for_results();
        }
        for (Worker& w : workers_) stop(w, false);
    }

private:
    struct Worker {
        process::Child child;           // pid() 0: none (lost, not replaced)
        std::deque<std::size_t> tasks;  // handed out, in the order the worker takes them
        FileOutcome partial;            // the log of the first task so far
        process::FrameReader in{kMaxFrame};
    };

    Worker spawn() {
        std::cout.flush();  // a child must not inherit output still to be written
        std::fflush(nullptr);
        Worker w;
        try {
            w.child = process::Child::start({.link = process::Link::socket}, [this](int fd) {
                set_work_threads(work_threads_);
                return worker_main(fd, inputs_, check_);
            });
        } catch (const std::system_error& e) {
            throw std::runtime_error("cannot start a worker: " + e.code().message());
        }
        return w;
    }

    // Ends a worker: the parent's end closed (a worker waiting for a task then ends by itself), and with
    // `kill` also SIGKILL, for a worker that is busy or cannot be trusted.
    static void stop(Worker& w, bool kill) {
        w.child.close_link();
        if (kill) w.child.kill();
        (void)w.child.reap();
    }

    // Hands out entries in order, at most `window` past the next one to deliver, each to the worker with
    // the fewest queued (up to kQueued, so a worker that finishes a file starts the next at once instead
    // of waiting for this process to be scheduled); entries that need no worker are done at once.
    void dispatch(std::size_t window) {
        for (;;) {
            while (retry_.empty() && next_ < inputs_.size() && next_ < delivered_ + window &&
                   !inputs_[next_].error.empty()) {
                FileOutcome out;
                out.message = inputs_[next_].error;
                out.code = inputs_[next_].code;
                done_.emplace(next_++, std::move(out));
            }
            const bool retry = !retry_.empty();
            if (!retry && (next_ >= inputs_.size() || next_ >= delivered_ + window)) return;
            Worker* least = nullptr;
            for (Worker& w : workers_)
                if (w.child.pid() > 0 && w.tasks.size() < kQueued && (!least || w.tasks.size() < least->tasks.size()))
                    least = &w;
            if (!least) return;
            if (retry) {
                put_task(*least, retry_.front());
                retry_.pop_front();
            } else {
                put_task(*least, next_++);
            }
        }
    }

    void put_task(Worker& w, std::size_t index) {
        w.tasks.push_back(index);
        std::string bytes;
        const std::size_t begin = process::begin_frame(bytes);
        put(bytes, static_cast<std::uint32_t>(index));
        process::end_frame(bytes, begin);
        // A few bytes into an idle worker's socket; a worker that has died is found by the next poll.
        (void)process::write_all(w.child.fd(), bytes);
    }

    void wait_for_results() {
        std::vector<pollfd> fds;
        bool busy = false;
        for (const Worker& w : workers_) {
            if (w.child.fd() >= 0) fds.push_back({w.child.fd(), POLLIN, 0});
            busy = busy || (w.child.fd() >= 0 && !w.tasks.empty());
        }
        if (!busy) throw std::logic_error("check_in_workers: waiting with no file in work");
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) return;
            throw std::runtime_error(std::string("waiting for the workers: ") + std::strerror(errno));
        }
        for (std::size_t i = 0, k = 0; i < workers_.size(); ++i) {
            Worker& w = workers_[i];
            if (w.child.fd() < 0) continue;
            const short revents = fds[k++].revents;
            if (revents & (POLLIN | POLLHUP | POLLERR)) receive(i);
        }
    }

    void receive(std::size_t slot) {
        Worker& w = workers_[slot];
        const bool open = w.in.fill(w.child.fd());
        if (!parse(w)) return lost(slot, "the check failed: its worker sent malformed data");
        if (open) return;
        // The end of the stream: the worker has ended (or closed its socket, which is the same). What
        // it cut short is its crash's doing, not a malformed frame.
        const int status = w.child.reap();
        lost(slot, "the check crashed (" + process::how_it_ended(status) + ")");
    }

    // Takes the whole frames that have arrived; false when one is malformed.
    bool parse(Worker& w) {
        for (std::string_view f;;) {
            switch (w.in.next(f)) {
                case process::FrameReader::Status::frame:
                    if (!take_frame(w, f)) return false;
                    break;
                case process::FrameReader::Status::oversized: return false;
                default: return true;
            }
        }
    }

    bool take_frame(Worker& w, std::string_view f) {
        if (f.size() < kFrameHead) return false;
        const char type = f[0];
        const auto index = get<std::uint32_t>(f.data() + 1);
        if (w.tasks.empty() || index != w.tasks.front()) return false;
        const std::string_view body = f.substr(kFrameHead);
        FileOutcome& out = w.partial;
        switch (type) {
            case 'L': {
                if (body.size() < 4) return false;
                const auto severity = get<std::int32_t>(body.data());
                if (severity != 1 && severity != 2 && severity != 4 && severity != 8 && severity != 16 &&
                    severity != 32)
                    return false;
                out.log.push_back({static_cast<XSI::siSeverityType>(severity), from_utf8(body.substr(4))});
                return true;
            }
            case 'M':
                // Once per file, before its result.
                if (out.measures.histogram || !out.measures.details.empty() || !out.measures.image.empty())
                    return false;
                return read_measures(body, out.measures);
            default:
                if (!read_outcome(type, body, out)) return false;
                if (out.kind == FileOutcome::Kind::checked) out.result.path = inputs_[index].path;
                break;
        }
        done_.emplace(index, std::move(out));
        w.partial = {};
        w.tasks.pop_front();
        return true;
    }

    // A worker that died or broke the format: the file it was on (if any) is an error, the files queued
    // behind it go to other workers, and a new worker takes its place while files are left.
    void lost(std::size_t slot, const std::string& what) {
        Worker& w = workers_[slot];
        stop(w, true);
        if (!w.tasks.empty()) {
            FileOutcome out = std::move(w.partial);
            out.kind = FileOutcome::Kind::error;
            out.code = ErrorCode::worker_crashed;
            out.message = inputs_[w.tasks.front()].path + ": " + what;
            done_.emplace(w.tasks.front(), std::move(out));
            w.tasks.pop_front();
            retry_.insert(retry_.begin(), w.tasks.begin(), w.tasks.end());
            std::sort(retry_.begin(), retry_.end());
        }
        w = Worker{};
        bool left = !retry_.empty();
        for (std::size_t i = next_; i < inputs_.size() && !left; ++i) left = inputs_[i].error.empty();
        if (left) w = spawn();
    }

    std::span<const MeshInput> inputs_;
    const CheckOne& check_;
    std::vector<Worker> workers_;
    std::map<std::size_t, FileOutcome> done_;  // finished, waiting for the entries before them
    std::deque<std::size_t> retry_;            // queued on a worker that was lost, ascending
    std::size_t next_ = 0;                     // the next entry to hand out
    std::size_t delivered_ = 0;                // the next entry to deliver
    unsigned work_threads_ = 1;                // each worker's share of the work threads
};

}  // namespace

std::size_t available_cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<std::size_t>(n) : 1;
}

void check_in_workers(std::span<const MeshInput> inputs, std::size_t jobs, const CheckOne& check,
                      const Deliver& deliver) {
    Pool pool(inputs, check);
    pool.run(jobs, deliver);
}

}  // namespace torvel::app
