// OFF reader (also the COFF/NOFF/CNOFF/STOFF variants, whose extra per-vertex values are ignored).
// Line based: one vertex or face per line, '#' starts a comment.
#include "face_layout.h"
#include "line_parts.h"
#include "off_parts.h"
#include "text_util.h"
#include "work_threads.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <optional>
#include <vector>

namespace torvel::io {

namespace {

using detail::is_blank;
using detail::max_u32;
using detail::NumStatus;

class OffParser {
public:
    // `origin`: where the file starts (before a byte-order mark), for the offsets in `layout`. `threads`
    // and `part_lines` (0: chosen from the file's size) say how large vertex and face blocks are read in
    // parts; a layout keeps them on this thread.
    OffParser(std::string_view text, const std::string& name, const char* origin, detail::FaceLayout* layout,
              unsigned threads = 1, std::size_t part_lines = 0)
        : p_(text.data()),
          end_(text.data() + text.size()),
          name_(name),
          origin_(origin),
          layout_(layout),
          threads_(layout ? 1 : threads),
          part_lines_(part_lines) {}

    PolygonMesh run() {
        if (!next_line()) detail::fail(name_, "empty file, expected an OFF header");
        std::string_view head = token();
        if (!header_ok(head)) {
            if (head == "4OFF" || head == "nOFF" || head.ends_with("4OFF") || head.ends_with("nOFF"))
                error("unsupported OFF variant " + detail::quoted(head) + " (only 3D meshes are read)");
            error("not an OFF file (expected 'OFF', found " + detail::quoted(head) + ")");
        }
        if (rest_empty()) {
            if (!next_line()) error("missing vertex and face counts");
        } else if (peek_token() == "BINARY") {
            error("binary OFF is not supported");
        }
        const std::uint64_t nv = count("vertex count");
        if (layout_) layout_->count_begin = offset(peek_token().data());
        const std::uint64_t nf = count("face count");
        if (layout_) layout_->count_end = offset(p_);
        if (!rest_empty()) count("edge count");
        end_of_line();
        if (nv > max_u32) error("too many vertices (" + std::to_string(nv) + ")");
        if (!(nf <= max_u32 && in_parts(nv + nf) && blocks_in_parts(nv, nf))) read_blocks(nv, nf);
        if (next_line()) error("unexpected data after the last face");
        return std::move(mesh_);
    }

    bool read_in_parts = false;

private:
    // The vertex and face blocks in one pass, on this thread.
    void read_blocks(std::uint64_t nv, std::uint64_t nf) {
        // Reserve only what the remaining text could hold ("0 0 0\n" per vertex, "3 0 0 0\n" per face).
        const auto left = static_cast<std::uint64_t>(end_ - p_);
        mesh_.positions.reserve(static_cast<std::size_t>(3 * std::min(nv, left / 6)));
        mesh_.offsets.reserve(static_cast<std::size_t>(std::min(nf, left / 8) + 1));
        mesh_.indices.reserve(static_cast<std::size_t>(3 * std::min(nf, left / 8)));

        for (std::uint64_t i = 0; i < nv; ++i) {
            if (!next_line())
                detail::fail(name_, "file ends after " + std::to_string(i) + " of " + std::to_string(nv) + " vertices");
            double xyz[3];
            static const char* const names[3] = {"x coordinate", "y coordinate", "z coordinate"};
            for (int a = 0; a < 3; ++a) {
                if (rest_empty()) error("vertex needs x y z coordinates");
                xyz[a] = real(names[a], true);
            }
            for (int extra = 0; !rest_empty(); ++extra) {
                if (extra == 9) error("too many values on a vertex line");
                real("vertex value", false);
            }
            mesh_.positions.insert(mesh_.positions.end(), xyz, xyz + 3);
        }
        for (std::uint64_t i = 0; i < nf; ++i) {
            if (!next_line())
                detail::fail(name_, "file ends after " + std::to_string(i) + " of " + std::to_string(nf) + " faces");
            detail::FaceLayout::Record record;
            record.begin = record.list_begin = offset(p_);
            const std::uint64_t n = count("face vertex count");
            if (n < 3) error(detail::too_few_vertices(n));
            for (std::uint64_t j = 0; j < n; ++j) {
                if (rest_empty())
                    error("face declares " + std::to_string(n) + " vertices but lists " + std::to_string(j));
                std::string_view tok = token();
                std::int64_t v = 0;
                if (!detail::parse_int(tok.data(), tok.data() + tok.size(), v))
                    error("bad vertex index " + detail::quoted(tok));
                if (v < 0 || static_cast<std::uint64_t>(v) >= nv) error(detail::index_out_of_range(v, nv));
                mesh_.indices.push_back(static_cast<std::uint32_t>(v));
            }
            if (!detail::close_polygon(mesh_)) error(detail::too_many_face_vertices);
            record.list_end = offset(p_);
            for (int extra = 0; !rest_empty(); ++extra) {  // optional colour: index, rgb or rgba
                if (extra == 4) error("too many values after the face's vertex indices");
                real("face colour value", false);
            }
            if (layout_) {
                record.end = offset(p_);
                layout_->records.push_back(record);
            }
        }
    }

    bool in_parts(std::uint64_t lines) const {
        if (threads_ < 2 || lines == 0) return false;
        return part_lines_ ? lines > part_lines_ : lines >= detail::kParallelFromInstances;
    }

    // The common layout, one vertex or face per line from the line after the counts on: the lines are
    // found by counting line ends in parts, then each part parses its own (vertices into their place,
    // faces into arrays of their own, joined in order). A blank line, a comment, any other layout and
    // anything the single pass would report leave the mesh as it was and return false: the single pass
    // then reads the blocks and says what is wrong, where.
    bool blocks_in_parts(std::uint64_t nv, std::uint64_t nf) {
        if (p_ == end_) return false;
        const std::string_view text(origin_, static_cast<std::size_t>(end_ - origin_));
        const std::size_t first = static_cast<std::size_t>(p_ - origin_) + 1;  // past the counts' line end
        const auto count = static_cast<std::size_t>(nv + nf);
        const std::optional<detail::LineParts> cut = detail::cut_lines(
            text, first, count, detail::line_part_bytes(text.size() - first, threads_, part_lines_), threads_);
        if (!cut) return false;
        const auto vertices = static_cast<std::size_t>(nv);
        mesh_.positions.resize(3 * vertices);
        std::vector<detail::PartFaces> faces(cut->parts());
        std::atomic<bool> bad{false};
        // Whether part k holds nothing but lines the single pass reads as they are parsed here.
        auto parse_part = [&](std::size_t k) {
            const char* q = origin_ + cut->begin(k);
            const char* const end = origin_ + cut->ends[k];
            // The next value on this line; empty at its end. A comment is a token no number parses as, a
            // blank line a missing value.
            auto token = [&] {
                while (q < end && is_blank(*q)) ++q;
                const char* b = q;
                while (q < end && !is_blank(*q) && *q != '\n') ++q;
                return std::string_view(b, static_cast<std::size_t>(q - b));
            };
            auto extras_fit = [&](int most) {
                double v = 0;
                for (int extra = 0;; ++extra) {
                    const std::string_view tok = token();
                    if (tok.empty()) return true;
                    if (extra == most || detail::parse_real(tok, false, v) != NumStatus::ok) return false;
                }
            };
            for (std::size_t n = cut->first_line[k]; n < cut->first_line[k + 1]; ++n) {
                if (n < vertices) {
                    for (std::size_t a = 0; a < 3; ++a)
                        if (detail::parse_real(token(), true, mesh_.positions[3 * n + a]) != NumStatus::ok)
                            return false;
                    if (!extras_fit(9)) return false;
                } else {
                    std::uint64_t size = 0;
                    if (detail::parse_count(token(), size) != NumStatus::ok || size < 3) return false;
                    for (std::uint64_t j = 0; j < size; ++j) {
                        const std::string_view tok = token();
                        std::int64_t v = 0;
                        if (!detail::parse_int(tok.data(), tok.data() + tok.size(), v) || v < 0 ||
                            static_cast<std::uint64_t>(v) >= nv)
                            return false;
                        faces[k].indices.push_back(static_cast<std::uint32_t>(v));
                    }
                    faces[k].sizes.push_back(static_cast<std::uint32_t>(size));
                    if (!extras_fit(4)) return false;  // an optional colour
                }
                if (q < end) ++q;  // the line end
            }
            return true;
        };
        run_tasks(threads_, cut->parts(), [&](std::size_t k) {
            if (!parse_part(k)) bad.store(true, std::memory_order_relaxed);
        });
        if (bad.load() || !detail::append_faces(mesh_, faces, threads_)) {
            mesh_.positions.clear();
            return false;
        }
        // On the last line's end, or at the end of the file when that line is unended: next_line goes on
        // from there.
        p_ = origin_ + cut->ends.back();
        if (p_[-1] == '\n') --p_;
        line_ += count;
        read_in_parts = true;
        return true;
    }

    [[noreturn]] void error(std::string_view what) const { detail::fail_at_line(name_, line_, what); }
    std::uint64_t offset(const char* at) const { return static_cast<std::uint64_t>(at - origin_); }

    static bool header_ok(std::string_view h) {
        if (h.starts_with("ST")) h.remove_prefix(2);
        if (h.starts_with("C")) h.remove_prefix(1);
        if (h.starts_with("N")) h.remove_prefix(1);
        return h == "OFF";
    }

    // Moves to the next line holding something other than blanks and comments; false at the end.
    bool next_line() {
        if (started_) {
            while (p_ < end_ && *p_ != '\n') ++p_;
            if (p_ == end_) return false;
            ++p_;
            ++line_;
        }
        started_ = true;
        for (;;) {
            skip_blanks();
            if (p_ == end_) return false;
            if (*p_ != '\n') return true;
            ++p_;
            ++line_;
        }
    }

    void skip_blanks() {
        while (p_ < end_ && is_blank(*p_)) ++p_;
        if (p_ < end_ && *p_ == '#')
            while (p_ < end_ && *p_ != '\n') ++p_;
    }

    bool rest_empty() {
        skip_blanks();
        return p_ == end_ || *p_ == '\n';
    }

    std::string_view peek_token() {
        skip_blanks();
        const char* s = p_;
        const char* q = p_;
        while (q < end_ && !is_blank(*q) && *q != '\n' && *q != '#') ++q;
        return {s, static_cast<std::size_t>(q - s)};
    }

    std::string_view token() {
        std::string_view t = peek_token();
        p_ += t.size();
        return t;
    }

    void end_of_line() {
        if (!rest_empty()) error("unexpected " + detail::quoted(peek_token()));
    }

    std::uint64_t count(const char* what) {
        if (rest_empty()) error(std::string("missing ") + what);
        const std::string_view tok = token();
        std::uint64_t v = 0;
        if (const NumStatus status = detail::parse_count(tok, v); status != NumStatus::ok)
            error(detail::count_error(status, what, tok));
        return v;
    }

    double real(const char* what, bool must_be_finite) {
        const std::string_view tok = token();
        double v = 0;
        if (const NumStatus status = detail::parse_real(tok, must_be_finite, v); status != NumStatus::ok)
            error(detail::real_error(status, what, tok));
        return v;
    }

    const char* p_;
    const char* end_;
    const std::string& name_;
    std::size_t line_ = 1;
    bool started_ = false;
    PolygonMesh mesh_;
    const char* origin_;
    detail::FaceLayout* layout_;
    unsigned threads_;
    std::size_t part_lines_;
};

}  // namespace

PolygonMesh parse_off(std::string_view text, const std::string& name) {
    return OffParser(detail::without_utf8_mark(text, name), name, text.data(), nullptr, work_threads()).run();
}

PolygonMesh detail::parse_off_in_parts(std::string_view text, const std::string& name, unsigned threads,
                                       std::size_t part_lines, bool* in_parts) {
    OffParser parser(detail::without_utf8_mark(text, name), name, text.data(), nullptr, threads,
                     std::max<std::size_t>(part_lines, 1));
    PolygonMesh mesh = parser.run();
    if (in_parts) *in_parts = parser.read_in_parts;
    return mesh;
}

PolygonMesh detail::parse_off(std::string_view bytes, const std::string& name, FaceLayout* layout) {
    return OffParser(detail::without_utf8_mark(bytes, name), name, bytes.data(), layout).run();
}

}  // namespace torvel::io
