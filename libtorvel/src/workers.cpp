// check_files: here in one Session, or in forked worker processes, one socket each, and the framed
// results they send back.
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

#include "frames.h"
#include "host.h"
#include "measure.h"
#include "process.h"
#include "text.h"
#include "torvel/torvel.h"
#include "work_threads.h"

namespace torvel {

namespace fs = std::filesystem;

namespace {

// Worker to parent, one frame (frames.h) per message, its payload: u8 type, u32 file index, then
//   'L' a log entry of the file: i32 severity, UTF-8 text;
//   'R' checked: f64 tolerance, u32 polygons, u32 count, count x u32 indices (ascending, below polygons),
//       u8 precision (0 double, 1 single), u32 objects, per object: u32 name size, UTF-8 name (not empty),
//       u32 source name size, UTF-8 source name, u32 polygons, u32 count, count x u32 indices; the objects'
//       polygons add up to the file's and their indices, each shifted by the polygons before the object,
//       are the file's; then u32 warnings, each u32 size and UTF-8 text;
//   'M' what the file's measures gave, just before its 'R': u8 histogram present, then 11 x u64 (bands,
//       degenerate, at_90, small, not_finite) when it is; u32 count, count details (u32 index, u32
//       vertices, u32 line + 1 or 0, u8 bend / degenerate / out-of-plane present, f64 bend, u32 corner,
//       u8 cause, f64 out of plane, u32 length, the object's UTF-8 name); u64 length, the PNG's bytes; u64 length, the report
//       page's section;
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

// What a worker knows of an entry: its outcome, or that the run must stop.
struct Entry {
    FileOutcome out;
    bool fatal = false;  // out.failure is why the run stops
};

std::string measures_body(const FileReport& m) {
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
    put(body, static_cast<std::uint64_t>(m.html.size()));
    body += m.html;
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

bool read_measures(std::string_view body, FileReport& m) {
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
    std::uint64_t html_length = 0;
    std::string_view html;
    if (!in.read(image_length) || !in.read(image, image_length) || !in.read(html_length) ||
        !in.read(html, html_length) || !in.done())
        return false;
    m.image.assign(image.begin(), image.end());
    m.html = std::string(html);
    return true;
}

// A worker's measures agree with its result: details of reported polygons only, each once, in the order
// of worse_detail, with values in their ranges; a histogram that counts every polygon once; a PNG; the
// page's section of entry `index` when there is one.
bool measures_fit(const FileReport& m, const FileReport& r, std::size_t index) {
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
    const std::string section = "<section class=\"file\" id=\"file-" + std::to_string(index) + "\">";
    return (m.image.empty() || (m.image.size() > sizeof kPng && std::equal(kPng, kPng + sizeof kPng, m.image.begin()))) &&
           (m.html.empty() || m.html.starts_with(section));
}

std::string outcome_frame(std::size_t index, const Entry& entry) {
    if (!entry.out.report) {
        const FileFailure& f = *entry.out.failure;
        return frame(entry.fatal ? 'F' : 'E', index, static_cast<char>(f.code) + f.message);
    }
    const FileReport& r = *entry.out.report;
    std::string measures;
    if (r.histogram || !r.details.empty() || !r.image.empty() || !r.html.empty())
        measures = frame('M', index, measures_body(r));
    std::string body;
    body.reserve(16 + 4 * r.non_planar.size());
    put(body, r.tolerance);
    put(body, r.polygons);
    put(body, static_cast<std::uint32_t>(r.non_planar.size()));
    body.append(reinterpret_cast<const char*>(r.non_planar.data()), 4 * r.non_planar.size());
    body += static_cast<char>(r.precision == "single");
    put(body, static_cast<std::uint32_t>(r.objects.size()));
    for (const ObjectReport& o : r.objects) {
        put(body, static_cast<std::uint32_t>(o.name.size()));
        body += o.name;
        put(body, static_cast<std::uint32_t>(o.source_name.size()));
        body += o.source_name;
        put(body, o.polygons);
        put(body, static_cast<std::uint32_t>(o.non_planar.size()));
        body.append(reinterpret_cast<const char*>(o.non_planar.data()), 4 * o.non_planar.size());
    }
    put(body, static_cast<std::uint32_t>(r.warnings.size()));
    for (const std::string& w : r.warnings) {
        put(body, static_cast<std::uint32_t>(w.size()));
        body += w;
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
        Entry bogus;
        FileReport& r = bogus.out.report.emplace();
        r.polygons = 2;
        r.non_planar = garbage ? std::vector<std::uint32_t>{1, 0} : std::vector<std::uint32_t>{1};
        r.objects = {{"a", 1, {}, {}}, {"b", 1, {}, {}}};
        send_all(fd, outcome_frame(index, bogus));
    }
}

// One entry's check in `session`: its report or its failure. What stops the run is thrown.
FileOutcome check_entry(Session& session, const MeshInput& in, std::size_t index, const CheckOptions& options) {
    FileOutcome out;
    if (in.failure) {
        out.failure = *in.failure;
        return out;
    }
    CheckOptions o = options;
    if (o.html_section) o.html_section = index;  // ids unique in the page of the whole run
    try {
        out.report = session.check_file(in.path, o);
    } catch (const FileError& e) {
        out.failure = FileFailure{in.path, e.what(), e.code()};
    } catch (const std::bad_alloc&) {
        out.failure = FileFailure{in.path, in.path + ": not enough memory to check it", ErrorCode::out_of_memory};
    }
    return out;
}

// The child's whole life: its own session, tasks until the parent closes the socket; returns the exit
// status. The child never runs the parent's destructors: everything of the parent's stays as the fork
// left it.
int worker_main(int fd, std::span<const MeshInput> inputs, const CheckOptions& options, SessionOptions session) {
    int code = 0;
    try {
        std::size_t current = 0;
        // A file's log goes out with its outcome, in one write: a frame per message would wake the
        // parent for each. A log that grows large is sent on the way.
        std::string pending;
        session.progress = {};
        session.log = [fd, &current, &pending](const LogLine& line) {
            std::string body;
            put(body, static_cast<std::int32_t>(line.severity));
            body += line.text;
            pending += frame('L', current, body);
            if (pending.size() >= (1 << 16)) {
                send_all(fd, pending);
                pending.clear();
            }
        };
        Session checker(std::move(session));
        process::FrameReader tasks(4);
        for (std::string_view task; tasks.read(fd, task) == process::FrameReader::Status::frame;) {
            const auto index = task.size() == 4 ? get<std::uint32_t>(task.data()) : inputs.size();
            if (index >= inputs.size()) {
                code = 3;
                break;
            }
            current = index;
            test_faults(fd, index, inputs[index]);
            Entry entry;
            try {
                entry.out = check_entry(checker, inputs[index], index, options);
            } catch (const std::exception& e) {
                entry.fatal = true;
                const std::string message = *e.what() ? e.what() : inputs[index].path;
                entry.out.failure = FileFailure{inputs[index].path, message, code_of(e, ErrorCode::internal)};
            }
            // Tests: measures that disagree with the verdict (a detail of a polygon the filter kept out).
            if (entry.out.report && named_by_env("TORVEL_TEST_WORKER_BAD_MEASURES", inputs[index]))
                entry.out.report->details.push_back({entry.out.report->polygons, "bogus", 4, {}, 1.0, {}, {}});
            pending += outcome_frame(index, entry);
            send_all(fd, pending);
            pending.clear();
        }
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
bool read_objects(std::string_view body, std::size_t at, FileReport& r) {
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
    for (ObjectReport& o : r.objects) {
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
    if (first != r.polygons || k != r.non_planar.size() || body.size() - at < 4) return false;
    const auto warnings = get<std::uint32_t>(body.data() + at);
    at += 4;
    if ((body.size() - at) / 4 < warnings) return false;
    r.warnings.resize(warnings);
    for (std::string& w : r.warnings) {
        if (body.size() - at < 4) return false;
        const auto size = get<std::uint32_t>(body.data() + at);
        at += 4;
        if (body.size() - at < size) return false;
        w.assign(body.data() + at, size);
        at += size;
    }
    return at == body.size();
}

// The last frame of outcome_frame's, read back into `entry`, whose report holds the measures that came
// before it: 'R' (checked, held against those measures), 'E' or 'F'. false when the body is malformed or
// the type none of these.
bool read_outcome(char type, std::string_view body, const MeshInput& input, std::size_t index, Entry& entry) {
    switch (type) {
        case 'R': {
            if (body.size() < 16) return false;
            FileReport measures = std::move(entry.out.report).value_or(FileReport{});
            FileReport& r = entry.out.report.emplace();
            r.tolerance = get<double>(body.data());
            r.polygons = get<std::uint32_t>(body.data() + 8);
            std::size_t at = 12;
            if (!std::isfinite(r.tolerance) || r.tolerance < 0 || r.tolerance > 90 ||
                !read_indices(body, at, r.polygons, r.non_planar) || !read_objects(body, at, r) ||
                !measures_fit(measures, r, index))
                return false;
            r.path = input.path;
            r.details = std::move(measures.details);
            r.histogram = measures.histogram;
            r.image = std::move(measures.image);
            r.html = std::move(measures.html);
            return true;
        }
        case 'E':
        case 'F':
            if (body.size() < 2 || static_cast<std::uint8_t>(body[0]) >= kErrors.size()) return false;
            entry.out.report.reset();
            entry.fatal = type == 'F';
            entry.out.failure = FileFailure{input.path, std::string(body.substr(1)), static_cast<ErrorCode>(body[0])};
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
    Pool(std::span<const MeshInput> inputs, const CheckOptions& options, const SessionOptions& session)
        : inputs_(inputs), options_(options), session_(session) {}
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    void run(std::size_t jobs, const Deliver& deliver) {
        std::size_t checkable = 0;
        for (const MeshInput& in : inputs_) checkable += !in.failure;
        const std::size_t count = std::min(jobs, checkable);
        work_threads_ = threads_per_worker(count);
        for (std::size_t i = 0; i < count; ++i) workers_.push_back(spawn());
        const std::size_t window = (kQueued + 1) * jobs;
        while (delivered_ < inputs_.size()) {
            dispatch(window);
            bool delivered = false;
            for (auto it = done_.find(delivered_); it != done_.end(); it = done_.find(delivered_)) {
                Entry entry = std::move(it->second);
                done_.erase(it);
                if (entry.fatal) throw RunStopped(*entry.out.failure, delivered_, std::move(entry.out.log));
                deliver(delivered_++, std::move(entry.out));
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
        Entry partial;                  // the log and measures of the first task so far
        process::FrameReader in{kMaxFrame};
    };

    Worker spawn() {
        std::cout.flush();  // a child must not inherit output still to be written
        std::fflush(nullptr);
        Worker w;
        try {
            w.child = process::Child::start({.link = process::Link::socket}, [this](int fd) {
                set_work_threads(work_threads_);
                return worker_main(fd, inputs_, options_, session_);
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
                   inputs_[next_].failure) {
                Entry entry;
                entry.out.failure = inputs_[next_].failure;
                done_.emplace(next_++, std::move(entry));
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
        if (!busy) throw std::logic_error("check_files: waiting with no file in work");
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
        Entry& out = w.partial;
        switch (type) {
            case 'L': {
                if (body.size() < 4) return false;
                const auto severity = get<std::int32_t>(body.data());
                if (severity != 1 && severity != 2 && severity != 4 && severity != 8 && severity != 16 &&
                    severity != 32)
                    return false;
                out.out.log.push_back({severity, std::string(body.substr(4))});
                return true;
            }
            case 'M':
                // Once per file, before its result.
                if (out.out.report) return false;
                return read_measures(body, out.out.report.emplace());
            default:
                if (!read_outcome(type, body, inputs_[index], index, out)) return false;
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
            Entry entry = std::move(w.partial);
            const std::string& path = inputs_[w.tasks.front()].path;
            entry.out.report.reset();
            entry.out.failure = FileFailure{path, path + ": " + what, ErrorCode::worker_crashed};
            done_.emplace(w.tasks.front(), std::move(entry));
            w.tasks.pop_front();
            retry_.insert(retry_.begin(), w.tasks.begin(), w.tasks.end());
            std::sort(retry_.begin(), retry_.end());
        }
        w = Worker{};
        bool left = !retry_.empty();
        for (std::size_t i = next_; i < inputs_.size() && !left; ++i) left = !inputs_[i].failure;
        if (left) w = spawn();
    }

    std::span<const MeshInput> inputs_;
    const CheckOptions& options_;
    const SessionOptions& session_;
    std::vector<Worker> workers_;
    std::map<std::size_t, Entry> done_;  // finished, waiting for the entries before them
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

std::size_t default_jobs(std::span<const MeshInput> inputs) {
    std::size_t checkable = 0;
    for (const MeshInput& in : inputs) checkable += !in.failure;
    return checkable > 1 ? std::min(available_cores(), checkable) : 1;
}

void check_files(std::span<const MeshInput> inputs, const CheckOptions& options, const SessionOptions& session,
                 std::size_t jobs, const Deliver& deliver) {
    std::size_t checkable = 0;
    for (const MeshInput& in : inputs) checkable += !in.failure;
    // The plug-in is found once, here: a run that cannot find it stops before any file.
    SessionOptions found = session;
    found.plugin = find_plugin(session.plugin);
    if (std::min(jobs, checkable) >= 2) {
        found.log = {};
        found.starting = {};
        Pool pool(inputs, options, found);
        pool.run(jobs, deliver);
        return;
    }
    // Here the host's lines can reach session.log as they are logged: the entry is announced first, so
    // that an observer keeps every entry's lines after its start.
    std::vector<LogLine> log;
    if (!session.log) found.log = [&log](const LogLine& line) { log.push_back(line); };
    Session here(std::move(found));
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (session.starting) session.starting(i);
        FileOutcome out;
        try {
            out = check_entry(here, inputs[i], i, options);
        } catch (const std::exception& e) {
            throw RunStopped(FileFailure{inputs[i].path, e.what(), code_of(e, ErrorCode::internal)}, i,
                             std::exchange(log, {}));
        }
        out.log = std::exchange(log, {});
        deliver(i, std::move(out));
    }
}

}  // namespace torvel
