// Wavefront OBJ reader: positions and polygon faces; everything else is checked for shape and skipped.
#include "text_util.h"

#include <algorithm>
#include <cstring>
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

class ObjParser {
public:
    ObjParser(std::string_view text, const std::string& name)
        : p_(text.data()), end_(text.data() + text.size()), name_(name) {}

    MeshData run() {
        reserve();
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
            else if (kw.size() == 1 && kw[0] == 'f') {
                mesh_.face_lines.push_back(static_cast<std::uint32_t>(std::min<std::size_t>(line_, max_u32)));
                parse_face();
            } else if (kw.size() == 1 && kw[0] == 'o')
                start_object();
            else if (ignored_statement(kw))
                skip_statement();
            else if (kw.empty())
                error("unexpected character " + detail::quoted(std::string_view(p_, 1)));
            else
                error("unknown statement " + detail::quoted(kw));
        }
        auto& objects = mesh_.objects;
        if (objects.size() > 1 && objects.back().first == mesh_.polygon_count()) objects.pop_back();
        const std::uint64_t vcount = mesh_.positions.size() / 3;
        if (max_forward_ != none && max_forward_ >= vcount) {
            line_ = max_forward_line_;
            error(detail::index_out_of_range(static_cast<std::int64_t>(max_forward_ + 1), vcount));
        }
        return std::move(mesh_);
    }

private:
    static constexpr std::uint64_t none = std::numeric_limits<std::uint64_t>::max();

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
        detail::reserve_huge(mesh_.positions, 3 * nv);
        detail::reserve_huge(mesh_.offsets, nf + 1);
        detail::reserve_huge(mesh_.face_lines, nf);
        detail::reserve_huge(mesh_.indices, max_refs);
    }

    std::string_view token_here() const {
        const char* q = p_;
        while (q < end_ && !ends_token(*q) && q - p_ < 60) ++q;
        return {p_, static_cast<std::size_t>(q - p_)};
    }

    // Skips blanks and backslash-newline continuations (counting the lines they join).
    void skip_blanks() {
        for (;;) {
            while (p_ < end_ && is_blank(*p_)) ++p_;
            if (p_ == end_ || *p_ != '\\') return;
            const char* q = p_ + 1;
            while (q < end_ && is_blank(*q)) ++q;
            if (q == end_) {
                p_ = q;
                return;
            }
            if (*q != '\n') return;  // a stray backslash: left for the caller to reject
            p_ = q + 1;
            ++line_;
        }
    }

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

    // Skips a whole statement, continuation lines included.
    void skip_statement() {
        for (;;) {
            const void* nl = std::memchr(p_, '\n', static_cast<std::size_t>(end_ - p_));
            if (!nl) {
                p_ = end_;
                return;
            }
            const char* q = static_cast<const char*>(nl);
            const char* b = q;
            while (b > p_ && is_blank(b[-1])) --b;
            const bool continued = b > p_ && b[-1] == '\\';
            p_ = q + 1;
            ++line_;
            if (!continued) return;
        }
    }

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
        if (mesh_.positions.size() >= 3 * max_u32) error("too many vertices");
        mesh_.positions.insert(mesh_.positions.end(), xyz, xyz + 3);
        finish_statement();
    }

    // `o NAME`: the polygons from here on belong to a new object. An earlier object still without
    // polygons only gives up its name.
    void start_object() {
        skip_blanks();
        const char* s = p_;
        while (p_ < end_ && *p_ != '\n' && *p_ != '#') ++p_;
        const char* e = p_;
        while (e > s && is_blank(e[-1])) --e;
        p_ = s;
        skip_statement();
        std::string name(s, static_cast<std::size_t>(e - s));
        auto& objects = mesh_.objects;
        const auto n = static_cast<std::uint32_t>(mesh_.polygon_count());
        if (objects.empty() && n > 0) objects.push_back({std::string(), 0});
        if (!objects.empty() && objects.back().first == n)
            objects.back().name = std::move(name);
        else
            objects.push_back({std::move(name), n});
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
        auto& idx = mesh_.indices;
        const std::size_t start = idx.size();
        const std::uint64_t vcount = mesh_.positions.size() / 3;
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
            idx.push_back(static_cast<std::uint32_t>(resolved));
        }
        const std::size_t n = idx.size() - start;
        if (n < 3) error(detail::too_few_vertices(n));
        if (!detail::close_polygon(mesh_)) error(detail::too_many_face_vertices);
        finish_statement();
    }

    const char* p_;
    const char* end_;
    const std::string& name_;
    std::size_t line_ = 1;
    MeshData mesh_;
    std::uint64_t max_forward_ = none;
    std::size_t max_forward_line_ = 0;
};

}  // namespace

MeshData parse_obj(std::string_view text, const std::string& name) {
    return ObjParser(detail::without_utf8_mark(text, name), name).run();
}

}  // namespace torvel::io
