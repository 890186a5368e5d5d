// The lossless rewriter: the readers say where each face is, and only those bytes are replaced.
#include "mesh_rewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "face_layout.h"
#include "obj_parts.h"
#include "text_util.h"

namespace torvel::io {

namespace {

using detail::is_blank;

void check_splits(const MeshView& mesh, std::span<const PolygonPieces> splits, const std::string& name) {
    for (std::size_t s = 0; s < splits.size(); ++s) {
        const PolygonPieces& p = splits[s];
        const std::string which = "polygon " + std::to_string(p.polygon);
        if (p.polygon >= mesh.polygon_count())
            detail::fail(name, "cannot split " + which + ": the file has " + std::to_string(mesh.polygon_count()));
        if (s > 0 && p.polygon <= splits[s - 1].polygon)
            detail::fail(name, "cannot split " + which + ": splits are not in ascending polygon order");
        const std::uint32_t n = mesh.offsets[p.polygon + 1] - mesh.offsets[p.polygon];
        if (p.offsets.empty() || p.offsets.front() != 0 || p.offsets.back() != p.corners.size())
            detail::fail(name, "cannot split " + which + ": piece offsets do not match the corner list");
        for (std::size_t k = 1; k < p.offsets.size(); ++k)
            if (p.offsets[k] < p.offsets[k - 1] + 3)
                detail::fail(name, "cannot split " + which + ": a piece has fewer than 3 corners");
        for (std::uint32_t c : p.corners)
            if (c >= n)
                detail::fail(name, "cannot split " + which + ": it has no corner " + std::to_string(c) + " (it has " +
                                       std::to_string(n) + ")");
    }
}

std::size_t pieces_in(std::span<const PolygonPieces> splits) {
    std::size_t n = 0;
    for (const PolygonPieces& p : splits) n += p.piece_count();
    return n;
}

// The output, handed on in parts of about a megabyte: a copy of a whole large file would cost as much
// again in fresh memory as the rewrite itself.
class Out {
public:
    explicit Out(const std::function<void(std::string_view)>& write) : write_(write) { text_.reserve(2 * kPart); }
    // Appended to directly; handed on by made().
    std::string& text() { return text_; }
    void made() {
        if (text_.size() >= kPart) drain();
    }
    void copy(std::string_view bytes) {
        if (text_.size() + bytes.size() < 2 * kPart) {
            text_ += bytes;
            made();
            return;
        }
        drain();
        for (std::size_t i = 0; i < bytes.size(); i += kPart) write_(bytes.substr(i, kPart));
    }
    void drain() {
        if (!text_.empty()) write_(text_);
        text_.clear();
    }

private:
    static constexpr std::size_t kPart = std::size_t{1} << 20;
    const std::function<void(std::string_view)>& write_;
    std::string text_;
};

// OBJ: a face statement from its line's start, tokenized as the reader does.
struct ObjFace {
    std::string_view indent;
    std::vector<std::string_view> tokens;
    std::string_view comment;  // from '#' to the line's end, without a CR
    bool crlf = false;
    const char* end = nullptr;  // the '\n' ending the statement, or the end of the bytes
};

inline bool ends_obj_token(char c) { return is_blank(c) || c == '\n' || c == '\\' || c == '#'; }

ObjFace scan_obj_face(const char* p, const char* end, const std::string& name, std::size_t line) {
    ObjFace face;
    const char* s = p;
    while (p < end && is_blank(*p)) ++p;
    face.indent = {s, static_cast<std::size_t>(p - s)};
    if (p == end || *p != 'f' || (p + 1 < end && !ends_obj_token(p[1])))
        detail::fail_at_line(name, line, "expected the face's 'f' statement here");
    ++p;
    for (;;) {
        while (p < end && is_blank(*p)) ++p;
        if (p < end && *p == '\\') {  // a continuation: blanks, then the end of the line
            const char* q = p + 1;
            while (q < end && is_blank(*q)) ++q;
            if (q == end) {
                p = q;
                break;
            }
            if (*q == '\n') {
                p = q + 1;
                continue;
            }
        }
        if (p == end || *p == '\n' || *p == '#') break;
        const char* t = p;
        while (p < end && !ends_obj_token(*p)) ++p;
        if (p == t) detail::fail_at_line(name, line, "unexpected character in the face's 'f' statement");
        face.tokens.emplace_back(t, static_cast<std::size_t>(p - t));
    }
    const char* c = p;
    while (p < end && *p != '\n') ++p;
    face.end = p;
    const char* e = p;
    face.crlf = e > face.indent.data() && e[-1] == '\r';  // passed over as a blank after the last token
    if (face.crlf && e > c) --e;
    if (c < e && *c == '#') face.comment = {c, static_cast<std::size_t>(e - c)};
    return face;
}

void rewrite_obj(std::string_view bytes, const MeshView& mesh, std::span<const std::uint32_t> face_lines,
                 std::span<const PolygonPieces> splits, const std::string& name, Out& o) {
    std::string& out = o.text();
    const char* const end = bytes.data() + bytes.size();
    // Line 1 starts past a byte-order mark, as the reader counts it.
    const char* line_start = end - detail::without_utf8_mark(bytes, name).size();
    const char* copied = bytes.data();
    std::size_t line = 1;
    for (const PolygonPieces& split : splits) {
        if (split.polygon >= face_lines.size()) detail::fail(name, "the faces could not be located");
        const std::size_t target = face_lines[split.polygon];
        while (line < target) {
            const void* nl = std::memchr(line_start, '\n', static_cast<std::size_t>(end - line_start));
            if (!nl) detail::fail(name, "the file has no line " + std::to_string(target));
            line_start = static_cast<const char*>(nl) + 1;
            ++line;
        }
        const ObjFace face = scan_obj_face(line_start, end, name, line);
        const std::uint32_t n = mesh.offsets[split.polygon + 1] - mesh.offsets[split.polygon];
        if (face.tokens.size() != n)
            detail::fail_at_line(name, line,
                                 "the face's 'f' statement does not list its " + std::to_string(n) + " corners");
        o.copy({copied, static_cast<std::size_t>(line_start - copied)});
        for (std::size_t k = 0; k < split.piece_count(); ++k) {
            if (k > 0) out += face.crlf ? "\r\n" : "\n";
            out += face.indent;
            out += 'f';
            for (std::uint32_t i = split.offsets[k]; i < split.offsets[k + 1]; ++i) {
                out += ' ';
                out += face.tokens[split.corners[i]];
            }
            if (k == 0 && !face.comment.empty()) {
                out += ' ';
                out += face.comment;
            }
        }
        if (face.crlf) out += '\r';
        o.made();
        copied = face.end;
        // Lines the statement continued over are now behind the cursor.
        for (const char* q = line_start; q < face.end; ++q) line += *q == '\n';
        line_start = face.end;
    }
    o.copy({copied, static_cast<std::size_t>(end - copied)});
    o.drain();
}

void append_count(std::string& out, std::uint64_t value, std::uint8_t size, bool big_endian) {
    for (std::uint8_t i = 0; i < size; ++i) {
        const unsigned shift = 8u * (big_endian ? size - 1u - i : i);
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

// PLY and OFF: each split face record becomes one record per piece.
void rewrite_records(std::string_view bytes, const MeshView& mesh, const detail::FaceLayout& layout,
                     std::span<const PolygonPieces> splits, const std::string& name, Out& o) {
    if (layout.records.size() != mesh.polygon_count()) detail::fail(name, "the faces could not be located");
    std::string& out = o.text();
    const std::uint64_t faces = mesh.polygon_count() - splits.size() + pieces_in(splits);
    o.copy(bytes.substr(0, layout.count_begin));
    out += std::to_string(faces);
    std::uint64_t copied = layout.count_end;
    for (const PolygonPieces& split : splits) {
        const detail::FaceLayout::Record& r = layout.records[split.polygon];
        const std::uint32_t n = mesh.offsets[split.polygon + 1] - mesh.offsets[split.polygon];
        o.copy(bytes.substr(copied, r.begin - copied));
        const std::string_view before = bytes.substr(r.begin, r.list_begin - r.begin);
        const std::string_view after = bytes.substr(r.list_end, r.end - r.list_end);
        std::vector<std::string_view> items;  // each index as written (text) or stored (binary)
        if (layout.binary) {
            for (std::uint32_t j = 0; j < n; ++j)
                items.push_back(bytes.substr(r.list_begin + layout.count_size + std::uint64_t{j} * layout.index_size,
                                             layout.index_size));
        } else {
            const std::string_view list = bytes.substr(r.list_begin, r.list_end - r.list_begin);
            std::size_t i = 0;
            bool first = true;  // the count
            while (i < list.size()) {
                while (i < list.size() && (is_blank(list[i]) || list[i] == '\n')) ++i;
                const std::size_t s = i;
                while (i < list.size() && !is_blank(list[i]) && list[i] != '\n') ++i;
                if (i == s) break;
                if (!first) items.push_back(list.substr(s, i - s));
                first = false;
            }
        }
        if (items.size() != n) detail::fail(name, "face " + std::to_string(split.polygon) + " could not be located");
        // Pieces of a text record go on lines of their own, ended as the file ends the record's line.
        const bool crlf = !layout.binary && r.end < bytes.size() && bytes[r.end] == '\r';
        for (std::size_t k = 0; k < split.piece_count(); ++k) {
            if (k > 0 && !layout.binary) out += crlf ? "\r\n" : "\n";
            out += before;
            const std::uint32_t count = split.offsets[k + 1] - split.offsets[k];
            if (layout.binary)
                append_count(out, count, layout.count_size, layout.big_endian);
            else
                out += std::to_string(count);
            for (std::uint32_t i = split.offsets[k]; i < split.offsets[k + 1]; ++i) {
                if (!layout.binary) out += ' ';
                out += items[split.corners[i]];
            }
            out += after;
        }
        o.made();
        copied = r.end;
    }
    o.copy(bytes.substr(copied));
    o.drain();
}

PolygonMesh parse_layout(std::string_view bytes, Format format, const std::string& name, detail::FaceLayout& layout) {
    return format == Format::obj   ? parse_obj(bytes, name)
           : format == Format::ply ? detail::parse_ply(bytes, name, &layout)
                                   : detail::parse_off(bytes, name, &layout);
}

// `mesh` and `face_lines` are what the reader made of `bytes`; `layout` where its face records are (PLY and
// OFF).
void rewrite(std::string_view bytes, Format format, const MeshView& mesh, std::span<const std::uint32_t> face_lines,
             const detail::FaceLayout& layout, const std::string& name, std::span<const PolygonPieces> splits, Out& o) {
    check_splits(mesh, splits, name);
    if (splits.empty()) {
        o.copy(bytes);
        o.drain();
    } else if (format == Format::obj) {
        rewrite_obj(bytes, mesh, face_lines, splits, name, o);
    } else {
        rewrite_records(bytes, mesh, layout, splits, name, o);
    }
}

// The shortest text that reads back to `value`.
void append_shortest(std::string& out, double value) {
    char buf[32];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

// `bytes` with the moved vertices' coordinates replaced, read back to check that the file holds the same
// polygons and exactly the new positions.
std::string move_obj_vertices(std::string_view bytes, Format format, const MeshView& mesh, const std::string& name,
                              std::span<const MovedVertex> moves) {
    if (format != Format::obj)
        detail::fail(name,
                     "moved vertices are written only into OBJ files as they are; name an .obj output to "
                     "convert the file");
    std::vector<std::uint32_t> vertices;
    for (const MovedVertex& m : moves) {
        if (!vertices.empty() && m.vertex <= vertices.back())
            detail::fail(name, "moved vertices are not in ascending order");
        vertices.push_back(m.vertex);
    }
    const auto at = detail::obj_vertex_coordinates(bytes, vertices, name);
    std::string out;
    out.reserve(bytes.size() + 64 * moves.size());
    std::uint64_t copied = 0;
    for (std::size_t k = 0; k < moves.size(); ++k) {
        const double value[3] = {moves[k].x, moves[k].y, moves[k].z};
        for (int c = 0; c < 3; ++c) {
            out += bytes.substr(copied, at[k][2 * c] - copied);
            append_shortest(out, value[c]);
            copied = at[k][2 * c + 1];
        }
    }
    out += bytes.substr(copied);
    const PolygonMesh back = parse_obj(out, name);
    bool same = back.offsets.size() == mesh.offsets.size() && back.indices.size() == mesh.indices.size() &&
                std::equal(back.offsets.begin(), back.offsets.end(), mesh.offsets.begin()) &&
                std::equal(back.indices.begin(), back.indices.end(), mesh.indices.begin());
    for (const MovedVertex& m : moves)
        same = same && 3 * std::size_t{m.vertex} + 2 < back.positions.size() &&
               back.positions[3 * std::size_t{m.vertex}] == m.x &&
               back.positions[3 * std::size_t{m.vertex} + 1] == m.y &&
               back.positions[3 * std::size_t{m.vertex} + 2] == m.z;
    if (!same) detail::fail(name, "the moved vertices could not be written in place");
    return out;
}

}  // namespace

std::string split_polygons_in_file(std::string_view bytes, Format format, const std::string& name,
                                   std::span<const PolygonPieces> splits, const PolygonMesh* expected) {
    detail::FaceLayout layout;
    const PolygonMesh mesh = parse_layout(bytes, format, name, layout);
    if (expected && (expected->offsets != mesh.offsets || expected->indices != mesh.indices))
        detail::fail(name, "the file changed while it was being repaired", ErrorCode::file_changed);
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    const std::function<void(std::string_view)> append = [&out](std::string_view part) { out += part; };
    Out o(append);
    rewrite(bytes, format, mesh.view(), mesh.face_lines, layout, name, splits, o);
    return out;
}

MeshFile read_mesh_file(const std::filesystem::path& path) {
    const std::string name = path.string();
    MeshFile file;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st {};
    bool whole = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
    if (whole) {
        // Read into memory of its own (not mapped: the rewrite comes later, from the same bytes), on huge
        // pages, without which the first touch of each page costs more than the copy.
        file.size = static_cast<std::size_t>(st.st_size);
        file.data.reset(new char[file.size + 1]);
        advise_huge_pages(file.data.get(), file.size + 1);
        std::size_t got = 0;
        while (whole && got <= file.size) {  // one byte more: the end of the file must come where fstat said
            const ssize_t n = ::read(fd, file.data.get() + got, file.size + 1 - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        whole = got == file.size;
    }
    if (fd >= 0) ::close(fd);
    if (!whole) {
        // A folder, a device, an empty or unreadable file: read_mesh says what is wrong.
        static_cast<void>(read_mesh(path));
        detail::fail(name, "the file changed while it was being read", ErrorCode::file_changed);
    }
    file.mesh = parse_layout(file.bytes(), format_of(path), name, *file.layout);
    return file;
}

MeshFile::MeshFile() : layout(std::make_unique<detail::FaceLayout>()) {}
MeshFile::MeshFile(MeshFile&&) noexcept = default;
MeshFile& MeshFile::operator=(MeshFile&&) noexcept = default;
MeshFile::~MeshFile() = default;

void write_split_polygons(const MeshFile& file, const MeshView& mesh, std::span<const std::uint32_t> face_lines,
                          Format format, const std::string& name, std::span<const PolygonPieces> splits,
                          const std::function<void(std::string_view)>& write, std::span<const MovedVertex> moves) {
    Out o(write);
    if (moves.empty()) {
        rewrite(file.bytes(), format, mesh, face_lines, *file.layout, name, splits, o);
        return;
    }
    const std::string moved = move_obj_vertices(file.bytes(), format, mesh, name, moves);
    // Only values within lines changed: the face lines are where they were.
    rewrite(moved, format, mesh, face_lines, *file.layout, name, splits, o);
}

}  // namespace torvel::io
