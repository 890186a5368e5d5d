// OBJ reader: positions and polygon faces; everything else is checked for shape and skipped.
#include "text_util.h"
#include "obj_parts.h"
#include "work_threads.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>

namespace torvel::io {

namespace {

using detail::is_blank;
using detail::max_u32;
using detail::NumStatus;

// Where a token stops: blanks, end of line, a continuation backslash or a comment.
inline bool ends_token(char c) { return is_blank(c) || c == '\n' || c == '\\' || c == '#'; }

// Statements that carry nothing the mesh needs; their lines are skipped.
bool ignored_statement(std::string_view kw) {
    static constexpr std::string_view known[] = {
        "vt",   "vn",   "vp",    "l",        "p",        "g",          "s",         "usemtl", "mtllib",
        "mg",   "lod",  "bevel", "c_interp", "d_interp", "shadow_obj", "trace_obj", "cstype", "deg",
        "bmat", "step", "curv",  "curv2",    "surf",     "parm",       "trim",      "hole",   "scrv",
        "sp",   "end",  "con",   "ctech",    "stech",    "maplib",     "usemap"};
    for (auto k : known)
        if (k == kw) return true;
    return false;
}

namespace obj {

// Skips blanks and backslash-newline continuations (counting the lines they join).
inline void skip_blanks(const char*& p, const char* end, std::size_t& line) {
    for (;;) {
        while (p < end && is_blank(*p)) ++p;
        if (p == end || *p != '\\') return;
        const char* q = p + 1;
        while (q < end && is_blank(*q)) ++q;
        if (q == end) {
            p = q;
            return;
        }
        if (*q != '\n') return;  // a stray backslash: left for the caller to reject
        p = q + 1;
        ++line;
    }
}

// Skips a whole statement, continuation lines included.
void skip_statement(const char*& p, const char* end, std::size_t& line) {
    for (;;) {
        const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
        if (!nl) {
            p = end;
            return;
        }
        const char* q = static_cast<const char*>(nl);
        const char* b = q;
        while (b > p && is_blank(b[-1])) --b;
        const bool continued = b > p && b[-1] == '\\';
        p = q + 1;
        ++line;
        if (!continued) return;
    }
}

}  // namespace obj

constexpr std::uint64_t no_forward_reference = std::numeric_limits<std::uint64_t>::max();

// A positive index past the vertices there were when it was read (the greatest such, first read on
// `line`) must name one defined later.
void check_forward_references(const std::string& name, std::uint64_t max_forward, std::size_t line,
                              std::uint64_t vertices) {
    if (max_forward != no_forward_reference && max_forward >= vertices)
        detail::fail_at_line(name, line,
                             detail::index_out_of_range(static_cast<std::int64_t>(max_forward + 1), vertices));
}

// The arrays of a whole file parsed on one thread: they grow as the statements come.
class GrowingArrays {
public:
    PolygonMesh mesh;

    std::uint64_t vertex_count() const { return mesh.positions.size() / 3; }
    void add_vertex(const double* xyz) { mesh.positions.insert(mesh.positions.end(), xyz, xyz + 3); }
    std::uint64_t index_count() const { return mesh.indices.size(); }
    void add_index(std::uint32_t i) { mesh.indices.push_back(i); }
    [[nodiscard]] bool close_polygon(std::size_t line) {
        mesh.face_lines.push_back(static_cast<std::uint32_t>(std::min<std::size_t>(line, max_u32)));
        if (detail::close_polygon(mesh)) return true;
        mesh.face_lines.pop_back();
        return false;
    }
    // `o NAME`: the polygons from here on belong to a new object. An earlier object still without
    // polygons only gives up its name.
    void start_object(std::string name) { add_object(mesh, std::move(name), mesh.polygon_count()); }
    static void add_object(PolygonMesh& mesh, std::string name, std::size_t polygons) {
        auto& objects = mesh.objects;
        const auto n = static_cast<std::uint32_t>(polygons);
        if (objects.empty() && n > 0) objects.push_back({std::string(), 0});
        if (!objects.empty() && objects.back().first == n)
            objects.back().name = std::move(name);
        else
            objects.push_back({std::move(name), n});
    }
};

template <class Arrays>
class ObjParser {
public:
    ObjParser(std::string_view text, const std::string& name, std::size_t first_line = 1)
        : p_(text.data()), end_(text.data() + text.size()), name_(name), line_(first_line) {}

    // The whole file, on this thread.
    PolygonMesh run() {
        reserve();
        parse();
        PolygonMesh& mesh = out_.mesh;
        auto& objects = mesh.objects;
        if (objects.size() > 1 && objects.back().first == mesh.polygon_count()) objects.pop_back();
        check_forward_references(name_, max_forward_, max_forward_line_, out_.vertex_count());
        return std::move(mesh);
    }

    // Every statement of the text, into `out`.
    void parse() {
        while (p_ < end_) {
            skip_blanks();
            if (p_ == end_) break;
            const char c = *p_;
            if (c == '\n') {
                ++p_;
                ++line_;
                continue;
            }
            if (c == '#') {
                skip_comment();
                continue;
            }
            const char* k = p_;
            while (p_ < end_ && !ends_token(*p_)) ++p_;
            const std::string_view kw(k, static_cast<std::size_t>(p_ - k));
            if (kw.size() == 1 && kw[0] == 'v')
                parse_vertex();
            else if (kw.size() == 1 && kw[0] == 'f')
                parse_face();
            else if (kw.size() == 1 && kw[0] == 'o')
                start_object();
            else if (ignored_statement(kw))
                skip_statement();
            else if (kw.empty())
                error("unexpected character " + detail::quoted(std::string_view(p_, 1)));
            else
                error("unknown statement " + detail::quoted(kw));
        }
    }

    static constexpr std::uint64_t none = no_forward_reference;
    Arrays& arrays() { return out_; }
    std::size_t line() const { return line_; }
    std::uint64_t max_forward() const { return max_forward_; }
    std::size_t max_forward_line() const { return max_forward_line_; }

private:
    [[noreturn]] void error(std::string_view what) const { detail::fail_at_line(name_, line_, what); }

    // One quick pass counting lines that start with "v " and "f " so the arrays are allocated once.
    // The counts are of real lines, so the memory stays proportional to the input. A face line of L
    // characters holds at most (L - 1) / 2 vertex references (each is a character and a separator):
    // reserving that bound never has the index array regrow and copy itself near the end, and the
    // part of it a file does not use is never touched, so it costs address space, not memory.
    void reserve() {
        std::size_t nv = 0, nf = 0, max_refs = 0;
        const char* q = p_;
        while (q < end_) {
            const void* nl = std::memchr(q, '\n', static_cast<std::size_t>(end_ - q));
            const char* line_end = nl ? static_cast<const char*>(nl) : end_;
            if (line_end - q > 1 && q[1] == ' ') {
                nv += q[0] == 'v';
                if (q[0] == 'f') {
                    ++nf;
                    max_refs += static_cast<std::size_t>(line_end - q - 1) / 2;
                }
            }
            if (!nl) break;
            q = line_end + 1;
        }
        PolygonMesh& mesh = out_.mesh;
        detail::reserve_huge(mesh.positions, 3 * nv);
        detail::reserve_huge(mesh.offsets, nf + 1);
        detail::reserve_huge(mesh.face_lines, nf);
        detail::reserve_huge(mesh.indices, max_refs);
    }

    std::string_view token_here() const {
        const char* q = p_;
        while (q < end_ && !ends_token(*q) && q - p_ < 60) ++q;
        return {p_, static_cast<std::size_t>(q - p_)};
    }

    void skip_blanks() { obj::skip_blanks(p_, end_, line_); }

    bool at_statement_end() const { return p_ == end_ || *p_ == '\n' || *p_ == '#'; }

    void skip_comment() {
        const void* nl = std::memchr(p_, '\n', static_cast<std::size_t>(end_ - p_));
        p_ = nl ? static_cast<const char*>(nl) : end_;
    }

    // After the last value of a statement: only blanks or a comment may follow on the line.
    void finish_statement() {
        skip_blanks();
        if (p_ < end_ && *p_ == '#') skip_comment();
        if (p_ == end_) return;
        if (*p_ != '\n') error("unexpected " + detail::quoted(token_here()) + " at the end of the statement");
        ++p_;
        ++line_;
    }

    void skip_statement() { obj::skip_statement(p_, end_, line_); }

    double read_coordinate(const char* what) {
        const char* s = p_;
        while (p_ < end_ && !ends_token(*p_)) ++p_;
        double v = 0;
        const NumStatus status = detail::parse_double(s, p_, v);
        if (status == NumStatus::ok) return v;
        if (status != NumStatus::malformed)
            error(detail::real_error(status, what, {s, static_cast<std::size_t>(p_ - s)}));
        p_ = s;  // shown like every other malformed OBJ token: from its start, as token_here() cuts it
        error(detail::real_error(status, what, token_here()));
    }

    void parse_vertex() {
        double xyz[3];
        static const char* const names[3] = {"x coordinate", "y coordinate", "z coordinate"};
        for (int i = 0; i < 3; ++i) {
            skip_blanks();
            if (at_statement_end()) error("vertex needs x y z coordinates");
            xyz[i] = read_coordinate(names[i]);
        }
        // Optional w or colour values: checked to be numbers, then ignored.
        for (int extra = 0;; ++extra) {
            skip_blanks();
            if (at_statement_end()) break;
            if (extra == 4) error("too many values on a vertex line");
            const char* s = p_;
            while (p_ < end_ && !ends_token(*p_)) ++p_;
            double ignored = 0;
            if (detail::parse_double(s, p_, ignored) == NumStatus::malformed) {
                p_ = s;
                error("bad vertex value " + detail::quoted(token_here()));
            }
        }
        if (out_.vertex_count() >= max_u32) error("too many vertices");
        out_.add_vertex(xyz);
        finish_statement();
    }

    void start_object() {
        skip_blanks();
        const char* s = p_;
        while (p_ < end_ && *p_ != '\n' && *p_ != '#') ++p_;
        const char* e = p_;
        while (e > s && is_blank(e[-1])) --e;
        p_ = s;
        skip_statement();
        out_.start_object(std::string(s, static_cast<std::size_t>(e - s)));
    }

    // One integer of a vertex reference ("i", "t" or "n"); 0 is never valid in OBJ.
    std::int64_t read_reference_number(const char* what) {
        const char* s = p_;
        while (p_ < end_ && (static_cast<unsigned>(*p_ - '0') < 10 || *p_ == '-' || *p_ == '+')) ++p_;
        std::int64_t v = 0;
        if (!detail::parse_int(s, p_, v)) {
            p_ = s;
            error(std::string("bad ") + what + " index in " + detail::quoted(token_here()));
        }
        if (v == 0) error(std::string(what) + " index 0 is out of range (indices start at 1)");
        return v;
    }

    void parse_face() {
        const std::size_t face_line = line_;
        const std::uint64_t start = out_.index_count();
        const std::uint64_t vcount = out_.vertex_count();
        for (;;) {
            skip_blanks();
            if (at_statement_end()) break;
            const char* ref = p_;
            const std::int64_t i = read_reference_number("vertex");
            std::uint64_t resolved;
            if (i > 0) {
                resolved = static_cast<std::uint64_t>(i) - 1;
                if (resolved >= max_u32) error("vertex index " + std::to_string(i) + " out of range");
                if (resolved >= vcount && (max_forward_ == none || resolved > max_forward_)) {
                    max_forward_ = resolved;  // may be defined later; checked at the end
                    max_forward_line_ = line_;
                }
            } else {
                const std::uint64_t back = static_cast<std::uint64_t>(-(i + 1)) + 1;
                if (back > vcount)
                    error("relative vertex index " + std::to_string(i) + " out of range (only " +
                          std::to_string(vcount) + " vertices so far)");
                resolved = vcount - back;
            }
            if (p_ < end_ && *p_ == '/') {
                ++p_;
                if (p_ < end_ && *p_ == '/') {
                    ++p_;
                    read_reference_number("normal");
                } else {
                    read_reference_number("texture");
                    if (p_ < end_ && *p_ == '/') {
                        ++p_;
                        read_reference_number("normal");
                    }
                }
            }
            if (p_ < end_ && !ends_token(*p_)) {
                p_ = ref;
                error("bad vertex reference " + detail::quoted(token_here()));
            }
            out_.add_index(static_cast<std::uint32_t>(resolved));
        }
        const std::uint64_t n = out_.index_count() - start;
        if (n < 3) error(detail::too_few_vertices(n));
        if (!out_.close_polygon(face_line)) error(detail::too_many_face_vertices);
        finish_statement();
    }

    const char* p_;
    const char* end_;
    const std::string& name_;
    std::size_t line_;
    Arrays out_;
    std::uint64_t max_forward_ = none;
    std::size_t max_forward_line_ = 0;
};

// What a part of the file adds to the arrays, from a first pass over it: where each part's values go.
struct PartCounts {
    std::uint64_t lines = 0, vertices = 0, faces = 0, corners = 0;
};

// The parser's statement structure without reading any value. For a part that parses without error
// the counts are exactly what the parse stores; for one that does not they only have to be finite.
PartCounts count_statements(const char* p, const char* end) {
    PartCounts c;
    std::size_t lines = 0;
    // The values of a `v` or `f` statement, up to its end or comment.
    auto count_values = [&] {
        std::uint64_t n = 0;
        for (;;) {
            obj::skip_blanks(p, end, lines);
            if (p == end || *p == '\n' || *p == '#') return n;
            const char* s = p;
            while (p < end && !ends_token(*p)) ++p;
            if (p == s) {  // a stray backslash: the parse fails here
                obj::skip_statement(p, end, lines);
                return n;
            }
            ++n;
        }
    };
    while (p < end) {
        obj::skip_blanks(p, end, lines);
        if (p == end) break;
        if (*p == '\n') {
            ++p;
            ++lines;
            continue;
        }
        if (*p == '#') {
            const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            p = nl ? static_cast<const char*>(nl) : end;
            continue;
        }
        const char* k = p;
        while (p < end && !ends_token(*p)) ++p;
        const bool single = p - k == 1;
        if (single && *k == 'v') {
            ++c.vertices;
            // Only where the statement ends: at the first line without a backslash at its end, or with a
            // comment (a '#' always starts one here), whose newline the loop takes.
            for (;;) {
                const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
                const char* line_end = nl ? static_cast<const char*>(nl) : end;
                const char* b = line_end;
                while (b > p && is_blank(b[-1])) --b;
                const bool continued =
                    nl && b > p && b[-1] == '\\' && !std::memchr(p, '#', static_cast<std::size_t>(line_end - p));
                p = continued ? line_end + 1 : line_end;
                if (!continued) break;
                ++lines;
            }
        } else if (single && *k == 'f') {
            ++c.faces;
            c.corners += count_values();
        } else {
            obj::skip_statement(p, end, lines);
        }
    }
    c.lines = lines;
    return c;
}

// A part's values written where the counting pass placed them in the file's arrays. Writing more than
// was counted (which only a malformed part can do) throws Overrun rather than touch the next part's.
class PlacedArrays {
public:
    struct Overrun {};
    struct ObjectStart {
        std::string name;
        std::uint64_t first;  // the file's polygons before it
    };
    std::vector<ObjectStart> objects;

    void place(PolygonMesh& mesh, const PartCounts& before, const PartCounts& room) {
        positions_ = mesh.positions.data() + 3 * before.vertices;
        indices_ = mesh.indices.data() + before.corners;
        offsets_ = mesh.offsets.data() + 1 + before.faces;
        face_lines_ = mesh.face_lines.data() + before.faces;
        before_ = before;
        room_ = room;
    }
    bool filled() const { return nv_ == room_.vertices && ni_ == room_.corners && nf_ == room_.faces; }

    std::uint64_t vertex_count() const { return before_.vertices + nv_; }
    void add_vertex(const double* xyz) {
        if (nv_ == room_.vertices) throw Overrun{};
        std::memcpy(positions_ + 3 * nv_++, xyz, 3 * sizeof(double));
    }
    std::uint64_t index_count() const { return before_.corners + ni_; }
    void add_index(std::uint32_t i) {
        if (ni_ == room_.corners) throw Overrun{};
        indices_[ni_++] = i;
    }
    [[nodiscard]] bool close_polygon(std::size_t line) {
        if (index_count() > max_u32) return false;
        if (nf_ == room_.faces) throw Overrun{};
        offsets_[nf_] = static_cast<std::uint32_t>(index_count());
        face_lines_[nf_++] = static_cast<std::uint32_t>(std::min<std::size_t>(line, max_u32));
        return true;
    }
    void start_object(std::string name) { objects.push_back({std::move(name), before_.faces + nf_}); }

private:
    double* positions_ = nullptr;
    std::uint32_t* indices_ = nullptr;
    std::uint32_t* offsets_ = nullptr;
    std::uint32_t* face_lines_ = nullptr;
    PartCounts before_, room_;
    std::uint64_t nv_ = 0, ni_ = 0, nf_ = 0;
};

// Ends of parts of about `part_bytes` each. A cut is made only after a line that does not continue
// (its last non-blank character is not a backslash): there the parser is always between statements.
std::vector<const char*> cut_into_parts(std::string_view text, std::size_t part_bytes) {
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    std::vector<const char*> ends;
    const char* from = begin;
    while (static_cast<std::size_t>(end - from) / 3 * 2 > part_bytes) {
        const char* q = from + part_bytes;
        const char* cut = end;
        while (q < end) {
            const void* nl = std::memchr(q, '\n', static_cast<std::size_t>(end - q));
            if (!nl) break;
            const char* n = static_cast<const char*>(nl);
            const char* b = n;
            while (b > from && is_blank(b[-1])) --b;
            if (b == from || b[-1] != '\\') {
                cut = n + 1;
                break;
            }
            q = n + 1;
        }
        if (cut == end) break;
        ends.push_back(cut);
        from = cut;
    }
    ends.push_back(end);
    return ends;
}

// The file cut into parts, each counted, then parsed into its place, on up to `threads` threads. A
// part that fails keeps its error; the first failing part's error is the file's, as a parse in one go
// stops at the first error. Counts that do not match the parse (a malformed part only) send the file
// to the parse in one go, which then finds the error itself.
PolygonMesh parse_in_parts(std::string_view text, const std::string& name, unsigned threads, std::size_t part_bytes,
                           bool* in_parts) {
    const std::vector<const char*> ends = cut_into_parts(text, part_bytes);
    const std::size_t parts = ends.size();
    if (parts < 2 || threads < 2) return ObjParser<GrowingArrays>(text, name).run();
    auto begin_of = [&](std::size_t k) { return k == 0 ? text.data() : ends[k - 1]; };

    std::vector<PartCounts> counts(parts);
    run_tasks(threads, parts, [&](std::size_t k) { counts[k] = count_statements(begin_of(k), ends[k]); });
    std::vector<PartCounts> before(parts + 1);
    for (std::size_t k = 0; k < parts; ++k) {
        before[k + 1].lines = before[k].lines + counts[k].lines;
        before[k + 1].vertices = before[k].vertices + counts[k].vertices;
        before[k + 1].faces = before[k].faces + counts[k].faces;
        before[k + 1].corners = before[k].corners + counts[k].corners;
    }
    const PartCounts& total = before[parts];
    // Past the 32-bit limits the arrays are not made: the parse in one go reports where they are passed.
    if (total.vertices >= max_u32 || total.faces >= max_u32 || total.corners > max_u32)
        return ObjParser<GrowingArrays>(text, name).run();

    PolygonMesh mesh;
    detail::reserve_huge(mesh.positions, 3 * total.vertices);
    detail::reserve_huge(mesh.indices, total.corners);
    detail::reserve_huge(mesh.offsets, total.faces + 1);
    detail::reserve_huge(mesh.face_lines, total.faces);
    mesh.positions.resize(3 * total.vertices);
    mesh.indices.resize(total.corners);
    mesh.offsets.resize(total.faces + 1);
    mesh.face_lines.resize(total.faces);

    struct Outcome {
        std::exception_ptr error;
        bool exact = false;
        std::vector<PlacedArrays::ObjectStart> objects;
        std::uint64_t max_forward = no_forward_reference;
        std::size_t max_forward_line = 0;
    };
    std::vector<Outcome> outcomes(parts);
    run_tasks(threads, parts, [&](std::size_t k) {
        const std::size_t first_line = 1 + before[k].lines;
        ObjParser<PlacedArrays> parser({begin_of(k), static_cast<std::size_t>(ends[k] - begin_of(k))}, name,
                                       first_line);
        parser.arrays().place(mesh, before[k], counts[k]);
        Outcome& out = outcomes[k];
        try {
            parser.parse();
            out.exact = parser.arrays().filled() && parser.line() == first_line + counts[k].lines;
        } catch (const PlacedArrays::Overrun&) {
        } catch (...) {
            out.error = std::current_exception();
        }
        out.objects = std::move(parser.arrays().objects);
        out.max_forward = parser.max_forward();
        out.max_forward_line = parser.max_forward_line();
    });

    std::uint64_t max_forward = no_forward_reference;
    std::size_t max_forward_line = 0;
    for (Outcome& out : outcomes) {
        if (out.error) std::rethrow_exception(out.error);
        if (!out.exact) return ObjParser<GrowingArrays>(text, name).run();
        for (auto& o : out.objects) GrowingArrays::add_object(mesh, std::move(o.name), o.first);
        // Ties keep the earlier line, as one pass keeps the first of equal indices.
        if (out.max_forward != no_forward_reference &&
            (max_forward == no_forward_reference || out.max_forward > max_forward)) {
            max_forward = out.max_forward;
            max_forward_line = out.max_forward_line;
        }
    }
    auto& objects = mesh.objects;
    if (objects.size() > 1 && objects.back().first == mesh.polygon_count()) objects.pop_back();
    check_forward_references(name, max_forward, max_forward_line, total.vertices);
    if (in_parts) *in_parts = true;
    return mesh;
}

// Below this size a file is read on one thread: measured with two cores, `torvel script ImportMesh` of
// 4.8 MB and 15 MB OBJ files took as long with two threads as with one (the thread start, the counting
// pass and the zero-filled arrays eat the gain); at 52 MB two threads saved about 15% of the import.
constexpr std::size_t parallel_from_bytes = std::size_t{16} << 20;
constexpr std::size_t least_part_bytes = std::size_t{1} << 20;

}  // namespace

PolygonMesh parse_obj(std::string_view text, const std::string& name) {
    const std::string_view body = detail::without_utf8_mark(text, name);
    const unsigned threads = work_threads();
    if (threads > 1 && body.size() >= parallel_from_bytes)
        return parse_in_parts(body, name, threads, std::max(least_part_bytes, body.size() / (4 * threads)), nullptr);
    return ObjParser<GrowingArrays>(body, name).run();
}

PolygonMesh detail::parse_obj_in_parts(std::string_view text, const std::string& name, unsigned threads,
                                       std::size_t part_bytes, bool* in_parts) {
    if (in_parts) *in_parts = false;
    return parse_in_parts(detail::without_utf8_mark(text, name), name, threads, std::max<std::size_t>(part_bytes, 1),
                          in_parts);
}

}  // namespace torvel::io

namespace torvel::io {

std::vector<std::array<std::uint64_t, 6>> detail::obj_vertex_coordinates(std::string_view text,
                                                                         std::span<const std::uint32_t> vertices,
                                                                         const std::string& name) {
    std::vector<std::array<std::uint64_t, 6>> out;
    const char* const end = text.data() + text.size();
    const char* p = end - without_utf8_mark(text, name).size();
    std::size_t line = 1;
    std::uint64_t vertex = 0;
    // The statements as the reader's counting pass walks them.
    while (p < end && out.size() < vertices.size()) {
        obj::skip_blanks(p, end, line);
        if (p == end) break;
        if (*p == '\n') {
            ++p;
            ++line;
            continue;
        }
        if (*p == '#') {
            const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
            p = nl ? static_cast<const char*>(nl) : end;
            continue;
        }
        const char* k = p;
        while (p < end && !ends_token(*p)) ++p;
        if (p - k == 1 && *k == 'v' && vertex++ == vertices[out.size()]) {
            std::array<std::uint64_t, 6> at{};
            for (int c = 0; c < 3; ++c) {
                obj::skip_blanks(p, end, line);
                const char* s = p;
                while (p < end && !ends_token(*p)) ++p;
                if (p == s) fail_at_line(name, line, "the vertex has no x, y and z to rewrite");
                at[2 * c] = static_cast<std::uint64_t>(s - text.data());
                at[2 * c + 1] = static_cast<std::uint64_t>(p - text.data());
            }
            out.push_back(at);
        }
        obj::skip_statement(p, end, line);
    }
    if (out.size() < vertices.size())
        fail(name, "the file has no vertex " + std::to_string(vertices[out.size()] + std::uint64_t{1}));
    return out;
}

}  // namespace torvel::io
