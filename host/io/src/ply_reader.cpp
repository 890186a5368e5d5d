// PLY reader: ascii, binary_little_endian and binary_big_endian 1.0. Takes x y z from the vertex
// element and the vertex index list from the face element; every other property and element is
// read past according to its declared type.
#include "face_layout.h"
#include "line_parts.h"
#include "ply_parts.h"
#include "text_util.h"
#include "work_threads.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace torvel::io {

namespace {

using detail::max_u32;
using detail::NumStatus;

enum class Type : std::uint8_t { i8, u8, i16, u16, i32, u32, f32, f64 };
enum class Encoding { ascii, little, big };

std::optional<Type> type_named(std::string_view s) {
    if (s == "char" || s == "int8") return Type::i8;
    if (s == "uchar" || s == "uint8") return Type::u8;
    if (s == "short" || s == "int16") return Type::i16;
    if (s == "ushort" || s == "uint16") return Type::u16;
    if (s == "int" || s == "int32") return Type::i32;
    if (s == "uint" || s == "uint32") return Type::u32;
    if (s == "float" || s == "float32") return Type::f32;
    if (s == "double" || s == "float64") return Type::f64;
    return std::nullopt;
}

std::size_t size_of(Type t) {
    switch (t) {
        case Type::i8:
        case Type::u8: return 1;
        case Type::i16:
        case Type::u16: return 2;
        case Type::i32:
        case Type::u32:
        case Type::f32: return 4;
        case Type::f64: return 8;
    }
    return 8;
}

bool is_integer(Type t) { return t != Type::f32 && t != Type::f64; }

struct Property {
    std::string name;
    bool is_list = false;
    Type count_type = Type::u8;
    Type type = Type::f32;
};

struct Element {
    std::string name;
    std::uint64_t count = 0;
    std::vector<Property> props;
};

template <class T>
T load(const char* p, bool swap) {
    using U = std::conditional_t<sizeof(T) == 1, std::uint8_t,
                                 std::conditional_t<sizeof(T) == 2, std::uint16_t,
                                                    std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
    U u;
    std::memcpy(&u, p, sizeof u);
    if constexpr (sizeof(U) > 1) {
        if (swap) {
            U r = 0;
            for (std::size_t i = 0; i < sizeof(U); ++i) {
                r = static_cast<U>((r << 8) | (u & 0xFF));
                u = static_cast<U>(u >> 8);
            }
            u = r;
        }
    }
    return std::bit_cast<T>(u);
}

std::int64_t load_int(Type t, const char* p, bool swap) {
    switch (t) {
        case Type::i8: return load<std::int8_t>(p, swap);
        case Type::u8: return load<std::uint8_t>(p, swap);
        case Type::i16: return load<std::int16_t>(p, swap);
        case Type::u16: return load<std::uint16_t>(p, swap);
        case Type::i32: return load<std::int32_t>(p, swap);
        case Type::u32: return load<std::uint32_t>(p, swap);
        default: return 0;  // callers only pass integer types
    }
}

// Integer types widen exactly: every PLY integer type fits a double's mantissa.
double load_double(Type t, const char* p, bool swap) {
    if (t == Type::f32) return static_cast<double>(load<float>(p, swap));
    if (t == Type::f64) return load<double>(p, swap);
    return static_cast<double>(load_int(t, p, swap));
}

bool in_range(Type t, std::int64_t v) {
    switch (t) {
        case Type::i8: return v >= -128 && v <= 127;
        case Type::u8: return v >= 0 && v <= 255;
        case Type::i16: return v >= -32768 && v <= 32767;
        case Type::u16: return v >= 0 && v <= 65535;
        case Type::i32:
            return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
        case Type::u32: return v >= 0 && v <= static_cast<std::int64_t>(max_u32);
        default: return true;
    }
}

// ASCII PLY separates values by any white space, line ends included.
inline bool is_space(char c) { return detail::is_blank(c) || c == '\n'; }

class PlyParser {
public:
    // Parsing starts past a byte-order mark, and byte offsets in messages still count from the file's start.
    // `threads` and `part_instances` (0: chosen from the element's size) say how a large binary element
    // is converted in parts; a layout keeps every element on this thread.
    PlyParser(std::string_view bytes, const std::string& name, detail::FaceLayout* layout, unsigned threads = 1,
              std::size_t part_instances = 0)
        : data_(bytes),
          name_(name),
          pos_(bytes.size() - detail::without_utf8_mark(bytes, name).size()),
          layout_(layout),
          threads_(layout ? 1 : threads),
          part_instances_(part_instances) {}

    PolygonMesh run() {
        parse_header();
        for (std::size_t e = 0; e < elements_.size(); ++e) {
            const Element& el = elements_[e];
            if (e != vertex_el_ && e != face_el_ && el.props.empty()) continue;  // nothing to read
            if (encoding_ == Encoding::ascii)
                read_ascii(el, e);
            else
                read_binary(el, e);
        }
        if (encoding_ == Encoding::ascii) {
            while (pos_ < data_.size() && is_space(data_[pos_])) {
                if (data_[pos_] == '\n') ++line_;
                ++pos_;
            }
            if (pos_ != data_.size()) line_error("unexpected data after the last element");
        } else if (pos_ != data_.size()) {
            fail(std::to_string(data_.size() - pos_) + " unexpected bytes after the last element at byte " +
                 std::to_string(pos_));
        }
        const std::uint64_t vcount = mesh_.positions.size() / 3;
        if (max_index_ != none && max_index_ >= vcount) {
            const std::string what = detail::index_out_of_range(static_cast<std::int64_t>(max_index_), vcount);
            if (encoding_ == Encoding::ascii) {
                line_ = max_index_where_;
                line_error(what);
            }
            fail(what + " in face at byte " + std::to_string(max_index_where_));
        }
        return std::move(mesh_);
    }

private:
    static constexpr std::uint64_t none = std::numeric_limits<std::uint64_t>::max();

    [[noreturn]] void fail(std::string_view what) const { detail::fail(name_, what); }
    [[noreturn]] void line_error(std::string_view what) const { detail::fail_at_line(name_, line_, what); }

    // ---- header ----------------------------------------------------------------------------------

    static std::vector<std::string_view> split(std::string_view line) {
        std::vector<std::string_view> out;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
            const std::size_t s = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
            if (i > s) out.push_back(line.substr(s, i - s));
        }
        return out;
    }

    void parse_header() {
        bool have_format = false;
        for (;;) {
            if (pos_ >= data_.size()) {
                if (line_ == 1) fail("empty file, expected a PLY header");
                line_error("the header has no end_header line");
            }
            const std::size_t nl = data_.find('\n', pos_);
            if (nl == std::string_view::npos) {
                if (line_ == 1) fail("not a PLY file (no header line)");
                line_error("the header has no end_header line");
            }
            std::string_view line = data_.substr(pos_, nl - pos_);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            pos_ = nl + 1;
            const auto tok = split(line);
            if (line_ == 1) {
                if (line != "ply") fail("not a PLY file (the first line is not 'ply')");
            } else if (tok.empty()) {
                // blank header lines are harmless
            } else if (tok[0] == "comment" || tok[0] == "obj_info") {
            } else if (tok[0] == "format") {
                if (have_format) line_error("second format line");
                if (tok.size() != 3) line_error("format line needs an encoding and a version");
                if (tok[1] == "ascii")
                    encoding_ = Encoding::ascii;
                else if (tok[1] == "binary_little_endian")
                    encoding_ = Encoding::little;
                else if (tok[1] == "binary_big_endian")
                    encoding_ = Encoding::big;
                else
                    line_error("unknown PLY format " + detail::quoted(tok[1]));
                if (tok[2] != "1.0") line_error("unsupported PLY version " + detail::quoted(tok[2]));
                have_format = true;
            } else if (tok[0] == "element") {
                if (tok.size() != 3) line_error("element line needs a name and a count");
                Element el;
                el.name = std::string(tok[1]);
                if (const NumStatus status = detail::parse_count(tok[2], el.count); status != NumStatus::ok)
                    line_error(detail::count_error(status, "element count", tok[2]));
                for (const auto& other : elements_)
                    if (other.name == el.name) line_error("element " + detail::quoted(el.name) + " declared twice");
                if (el.name == "vertex") vertex_el_ = elements_.size();
                if (el.name == "face") {
                    face_el_ = elements_.size();
                    if (layout_) {
                        layout_->count_begin = static_cast<std::uint64_t>(tok[2].data() - data_.data());
                        layout_->count_end = layout_->count_begin + tok[2].size();
                    }
                }
                elements_.push_back(std::move(el));
            } else if (tok[0] == "property") {
                if (elements_.empty()) line_error("property before any element");
                Property p;
                if (tok.size() >= 2 && tok[1] == "list") {
                    if (tok.size() != 5) line_error("list property needs a count type, an item type and a name");
                    auto ct = type_named(tok[2]);
                    auto it = type_named(tok[3]);
                    if (!ct) line_error("unknown type " + detail::quoted(tok[2]));
                    if (!it) line_error("unknown type " + detail::quoted(tok[3]));
                    if (!is_integer(*ct)) line_error("list count type must be an integer type");
                    p.is_list = true;
                    p.count_type = *ct;
                    p.type = *it;
                    p.name = std::string(tok[4]);
                } else {
                    if (tok.size() != 3) line_error("property line needs a type and a name");
                    auto t = type_named(tok[1]);
                    if (!t) line_error("unknown type " + detail::quoted(tok[1]));
                    p.type = *t;
                    p.name = std::string(tok[2]);
                }
                elements_.back().props.push_back(std::move(p));
            } else if (tok[0] == "end_header") {
                if (tok.size() != 1) line_error("unexpected text after end_header");
                break;
            } else {
                // Some exporters write free text ("Created by ...") where a comment line belongs.
                if (++unknown_lines_ <= kMaxUnknownLinesTold)
                    mesh_.warnings.push_back(detail::at_line(
                        name_, line_, "header line with the unknown keyword " + detail::quoted(tok[0]) + " skipped"));
            }
            ++line_;
        }
        if (!have_format) line_error("the header has no format line");
        if (unknown_lines_ > kMaxUnknownLinesTold)
            mesh_.warnings.push_back(detail::at_line(name_, line_,
                                                     std::to_string(unknown_lines_ - kMaxUnknownLinesTold) +
                                                         " more header lines with unknown keywords skipped"));
        const std::size_t end_line = line_;
        ++line_;  // the body starts on the next line

        if (vertex_el_ == none) {
            line_ = end_line;
            line_error("the header declares no vertex element");
        }
        const Element& v = elements_[vertex_el_];
        for (std::size_t i = 0; i < v.props.size(); ++i) {
            const Property& p = v.props[i];
            for (int axis = 0; axis < 3; ++axis) {
                static constexpr std::string_view axis_name[3] = {"x", "y", "z"};
                if (p.name == axis_name[axis]) {
                    if (p.is_list) {
                        line_ = end_line;
                        line_error("vertex property " + p.name + " is a list");
                    }
                    if (xyz_[axis] != none) {
                        line_ = end_line;
                        line_error("vertex property " + p.name + " declared twice");
                    }
                    xyz_[axis] = i;
                }
            }
        }
        for (int axis = 0; axis < 3; ++axis)
            if (xyz_[axis] == none) {
                line_ = end_line;
                line_error(std::string("the vertex element has no ") + "xyz"[axis] + " property");
            }
        if (v.count > max_u32) {
            line_ = end_line;
            line_error("too many vertices (" + std::to_string(v.count) + ")");
        }
        if (face_el_ != none) {
            const Element& f = elements_[face_el_];
            for (std::size_t i = 0; i < f.props.size(); ++i)
                if (f.props[i].is_list && (f.props[i].name == "vertex_indices" || f.props[i].name == "vertex_index")) {
                    if (index_prop_ != none) {
                        line_ = end_line;
                        line_error("the face element has two vertex index lists");
                    }
                    index_prop_ = i;
                }
            if (index_prop_ == none) {
                line_ = end_line;
                line_error("the face element has no vertex_indices list");
            }
            if (!is_integer(f.props[index_prop_].type)) {
                line_ = end_line;
                line_error("vertex indices must have an integer type");
            }
            if (layout_) {
                layout_->binary = encoding_ != Encoding::ascii;
                layout_->big_endian = encoding_ == Encoding::big;
                layout_->count_size = static_cast<std::uint8_t>(size_of(f.props[index_prop_].count_type));
                layout_->index_size = static_cast<std::uint8_t>(size_of(f.props[index_prop_].type));
            }
        }
    }

    // ---- bookkeeping shared by both encodings -------------------------------------------------------

    // `min_bytes_each`: the fewest bytes one instance can take; `index_bytes`: the fewest bytes one
    // more vertex index of a face takes. The index array is reserved for as many indices as the bytes
    // left could hold, so that it never regrows (and copies itself) near the end; what a file does not
    // use of it is never touched.
    void reserve_for(std::size_t e, std::uint64_t min_bytes_each, std::uint64_t index_bytes) {
        const std::uint64_t left = data_.size() - pos_;
        const std::uint64_t n =
            std::min<std::uint64_t>(elements_[e].count, left / std::max<std::uint64_t>(min_bytes_each, 1));
        if (e == vertex_el_) detail::reserve_huge(mesh_.positions, static_cast<std::size_t>(3 * n));
        if (e == face_el_) {
            detail::reserve_huge(mesh_.offsets, static_cast<std::size_t>(n + 1));
            const std::uint64_t indices = index_bytes ? std::max<std::uint64_t>(3 * n, left / index_bytes) : 3 * n;
            detail::reserve_huge(mesh_.indices, static_cast<std::size_t>(std::min<std::uint64_t>(indices, max_u32)));
        }
    }

    void note_index(std::int64_t v, std::uint64_t where) {
        // Negative indices can never be valid; report them like any other out-of-range index.
        if (v < 0) {
            std::string what = "vertex index " + std::to_string(v) + " out of range";
            if (encoding_ == Encoding::ascii) line_error(what);
            fail(what + " in face at byte " + std::to_string(where));
        }
        const auto u = static_cast<std::uint64_t>(v);
        if (u >= vertex_count_now() && (max_index_ == none || u > max_index_)) {
            max_index_ = u;
            max_index_where_ = where;
        }
        mesh_.indices.push_back(static_cast<std::uint32_t>(u));
    }

    std::uint64_t vertex_count_now() const {
        // If the vertex element is already read its count is final; otherwise defer the check.
        return mesh_.positions.size() / 3;
    }

    void finish_face(std::size_t n, std::uint64_t where) {
        if (n < 3) {
            const std::string what = detail::too_few_vertices(n);
            if (encoding_ == Encoding::ascii) line_error(what);
            fail(what + " (face at byte " + std::to_string(where) + ")");
        }
        if (!detail::close_polygon(mesh_)) fail(detail::too_many_face_vertices);
    }

    // ---- ascii ------------------------------------------------------------------------------------

    std::string_view next_token(const Element& el, std::uint64_t instance) {
        while (pos_ < data_.size() && is_space(data_[pos_])) {
            if (data_[pos_] == '\n') ++line_;
            ++pos_;
        }
        if (pos_ >= data_.size())
            line_error("unexpected end of file in element " + detail::quoted(el.name) + " (" +
                       std::to_string(instance) + " of " + std::to_string(el.count) + " read)");
        const std::size_t s = pos_;
        while (pos_ < data_.size() && !is_space(data_[pos_])) ++pos_;
        return data_.substr(s, pos_ - s);
    }

    std::int64_t ascii_int(std::string_view tok, Type t, const char* what) {
        std::int64_t v = 0;
        if (!detail::parse_int(tok.data(), tok.data() + tok.size(), v))
            line_error(std::string("bad ") + what + " " + detail::quoted(tok) + " (expected an integer)");
        if (!in_range(t, v)) line_error(std::string(what) + " " + detail::quoted(tok) + " does not fit its type");
        return v;
    }

    double ascii_real(std::string_view tok, const char* what, bool must_be_finite) {
        double v = 0;
        if (const NumStatus status = detail::parse_real(tok, must_be_finite, v); status != NumStatus::ok)
            line_error(detail::real_error(status, what, tok));
        return v;
    }

    void ascii_scalar(Type t, const char* what, std::string_view tok) {
        if (is_integer(t))
            ascii_int(tok, t, what);
        else
            ascii_real(tok, what, false);
    }

    void read_ascii(const Element& el, std::size_t e) {
        const bool is_vertex = e == vertex_el_, is_face = e == face_el_;
        reserve_for(e, 2 * std::max<std::uint64_t>(el.props.size(), is_face ? 4 : 1), 2);  // a digit and a blank
        if ((is_vertex || is_face) && in_parts(el.count) && ascii_in_parts(el, is_vertex)) return;
        for (std::uint64_t k = 0; k < el.count; ++k) {
            double xyz[3] = {0, 0, 0};
            std::size_t face_start = mesh_.indices.size();
            std::uint64_t face_line = line_;
            detail::FaceLayout::Record record;
            for (std::size_t i = 0; i < el.props.size(); ++i) {
                const Property& p = el.props[i];
                std::string_view tok = next_token(el, k);
                if (i == 0) face_line = line_;
                if (i == 0) record.begin = pos_ - tok.size();
                if (!p.is_list) {
                    if (is_vertex && (i == xyz_[0] || i == xyz_[1] || i == xyz_[2])) {
                        const int axis = i == xyz_[0] ? 0 : i == xyz_[1] ? 1 : 2;
                        xyz[axis] = is_integer(p.type) ? static_cast<double>(ascii_int(tok, p.type, "coordinate"))
                                                       : ascii_real(tok, "coordinate", true);
                    } else {
                        ascii_scalar(p.type, "value", tok);
                    }
                    continue;
                }
                const std::int64_t n = ascii_int(tok, p.count_type, "list count");
                if (n < 0) line_error("negative list count " + detail::quoted(tok));
                const bool indices = is_face && i == index_prop_;
                if (indices) {
                    face_start = mesh_.indices.size();
                    record.list_begin = pos_ - tok.size();
                }
                for (std::int64_t j = 0; j < n; ++j) {
                    std::string_view item = next_token(el, k);
                    if (indices) {
                        const std::int64_t v = ascii_int(item, p.type, "vertex index");
                        note_index(v, line_);
                    } else {
                        ascii_scalar(p.type, "list value", item);
                    }
                }
                if (indices) record.list_end = pos_;
            }
            if (is_face && layout_) {
                record.end = pos_;
                layout_->records.push_back(record);
            }
            if (is_vertex) mesh_.positions.insert(mesh_.positions.end(), xyz, xyz + 3);
            if (is_face) {
                const std::size_t save = line_;
                line_ = face_line;
                finish_face(mesh_.indices.size() - face_start, 0);
                line_ = save;
            }
        }
    }

    // ---- binary -----------------------------------------------------------------------------------

    [[noreturn]] void truncated(const Element& el, std::uint64_t instance) const {
        fail("truncated binary data at byte " + std::to_string(pos_) + " in element " + detail::quoted(el.name) + " (" +
             std::to_string(instance) + " of " + std::to_string(el.count) + " complete)");
    }

    void read_binary(const Element& el, std::size_t e) {
        const bool swap = (encoding_ == Encoding::big) != (std::endian::native == std::endian::big);
        const bool is_vertex = e == vertex_el_, is_face = e == face_el_;
        bool fixed = true;
        std::uint64_t min_bytes = 0;
        for (std::size_t i = 0; i < el.props.size(); ++i) {
            const Property& p = el.props[i];
            if (p.is_list) {
                fixed = false;
                min_bytes += size_of(p.count_type) + (is_face && i == index_prop_ ? 3 * size_of(p.type) : 0);
            } else {
                min_bytes += size_of(p.type);
            }
        }
        const std::uint64_t left = data_.size() - pos_;
        if (fixed) {
            // Every instance has the same size: check the whole element at once.
            const std::uint64_t stride = min_bytes;
            if (el.count > left / stride) {
                pos_ += static_cast<std::size_t>(left / stride * stride);
                truncated(el, left / stride);
            }
            if (!is_vertex) {
                pos_ += static_cast<std::size_t>(el.count * stride);
                return;
            }
            {
                reserve_for(e, stride, 0);
                std::size_t off[3];
                Type type[3];
                for (int a = 0; a < 3; ++a) {
                    off[a] = 0;
                    for (std::size_t i = 0; i < xyz_[a]; ++i) off[a] += size_of(el.props[i].type);
                    type[a] = el.props[xyz_[a]].type;
                }
                if (in_parts(el.count) && vertices_in_parts(el, static_cast<std::size_t>(stride), off, type, swap))
                    return;
                const char* p = data_.data() + pos_;
                for (std::uint64_t k = 0; k < el.count; ++k, p += stride) {
                    for (int a = 0; a < 3; ++a) {
                        const double v = load_double(type[a], p + off[a], swap);
                        if (!std::isfinite(v))
                            fail("coordinate is not finite in vertex " + std::to_string(k) + " at byte " +
                                 std::to_string(static_cast<std::size_t>(p - data_.data()) + off[a]));
                        mesh_.positions.push_back(v);
                    }
                }
                pos_ = static_cast<std::size_t>(p - data_.data());
                return;
            }
        }
        // Instances of varying size (lists): walk property by property.
        const Property* idx_prop = is_face ? &el.props[index_prop_] : nullptr;
        reserve_for(e, min_bytes, idx_prop ? size_of(idx_prop->type) : 0);
        if (is_face && in_parts(el.count) && faces_in_parts(el, idx_prop, swap)) return;
        for (std::uint64_t k = 0; k < el.count; ++k) {
            const std::uint64_t start = pos_;
            std::uint64_t list_begin = start, list_end = start;
            for (std::size_t i = 0; i < el.props.size(); ++i) {
                const Property& p = el.props[i];
                if (!p.is_list) {
                    const std::size_t s = size_of(p.type);
                    if (data_.size() - pos_ < s) truncated(el, k);
                    if (is_vertex && (i == xyz_[0] || i == xyz_[1] || i == xyz_[2])) {
                        // Vertex lists are rare; keep it simple and exact.
                        const double v = load_double(p.type, data_.data() + pos_, swap);
                        if (!std::isfinite(v)) fail("coordinate is not finite at byte " + std::to_string(pos_));
                        vertex_tmp_[i == xyz_[0] ? 0 : i == xyz_[1] ? 1 : 2] = v;
                    }
                    pos_ += s;
                    continue;
                }
                const std::size_t cs = size_of(p.count_type);
                if (data_.size() - pos_ < cs) truncated(el, k);
                const std::int64_t n = load_int(p.count_type, data_.data() + pos_, swap);
                if (n < 0) fail("negative list count " + std::to_string(n) + " at byte " + std::to_string(pos_));
                pos_ += cs;
                const std::size_t is = size_of(p.type);
                if (static_cast<std::uint64_t>(n) > (data_.size() - pos_) / is) truncated(el, k);
                if (&p == idx_prop) {
                    list_begin = pos_ - cs;
                    const std::size_t face_start = mesh_.indices.size();
                    const char* q = data_.data() + pos_;
                    for (std::int64_t j = 0; j < n; ++j, q += is) note_index(load_int(p.type, q, swap), start);
                    finish_face(mesh_.indices.size() - face_start, start);
                }
                pos_ += static_cast<std::size_t>(n) * is;
                if (&p == idx_prop) list_end = pos_;
            }
            if (is_vertex) mesh_.positions.insert(mesh_.positions.end(), vertex_tmp_, vertex_tmp_ + 3);
            if (is_face && layout_) layout_->records.push_back({start, list_begin, list_end, pos_});
        }
    }

    // ---- binary elements in parts on several threads ---------------------------------------------------
    // Each part is converted into its place in the arrays. A part that meets anything the single pass
    // would report (or has to look at again later: an index past the vertices read so far) makes the
    // element go through the single pass, which then says what is wrong exactly as it always does.

    // Below detail::kParallelFromInstances instances an element is converted on this thread.
    static constexpr std::uint64_t kParallelFromInstances = detail::kParallelFromInstances;

    bool in_parts(std::uint64_t count) const {
        if (threads_ < 2) return false;
        return part_instances_ ? count > part_instances_ : count >= kParallelFromInstances;
    }

    std::size_t part_size(std::uint64_t count) const {
        if (part_instances_) return part_instances_;
        return static_cast<std::size_t>(std::max<std::uint64_t>(kParallelFromInstances / 4, count / (4 * threads_)));
    }

    bool vertices_in_parts(const Element& el, std::size_t stride, const std::size_t off[3], const Type type[3],
                           bool swap) {
        const auto count = static_cast<std::size_t>(el.count);
        const std::size_t part = part_size(count);
        const std::size_t first = mesh_.positions.size();
        mesh_.positions.resize(first + 3 * count);
        double* const out = mesh_.positions.data() + first;
        const char* const base = data_.data() + pos_;
        std::atomic<bool> bad{false};
        run_tasks(threads_, (count + part - 1) / part, [&](std::size_t k) {
            const std::size_t end = std::min(count, (k + 1) * part);
            for (std::size_t i = k * part; i < end; ++i) {
                for (int a = 0; a < 3; ++a) {
                    const double v = load_double(type[a], base + i * stride + off[a], swap);
                    if (!std::isfinite(v)) {
                        bad.store(true, std::memory_order_relaxed);
                        return;
                    }
                    out[3 * i + static_cast<std::size_t>(a)] = v;
                }
            }
        });
        if (bad.load()) {
            mesh_.positions.resize(first);
            return false;
        }
        ++elements_in_parts_;
        pos_ += count * stride;
        return true;
    }

    // A first pass over the instances finds where each part starts and how many indices come before it;
    // the parts then convert their indices in place.
    bool faces_in_parts(const Element& el, const Property* idx_prop, bool swap) {
        const auto count = static_cast<std::size_t>(el.count);
        const std::size_t part = part_size(count);
        const std::size_t parts = (count + part - 1) / part;
        std::vector<std::size_t> part_pos(parts);
        std::vector<std::uint64_t> corners_before(parts + 1, 0);
        std::size_t at = pos_;
        for (std::size_t k = 0; k < count; ++k) {
            if (k % part == 0) part_pos[k / part] = at;
            for (const Property& p : el.props) {
                if (!p.is_list) {
                    const std::size_t s = size_of(p.type);
                    if (data_.size() - at < s) return false;
                    at += s;
                    continue;
                }
                const std::size_t cs = size_of(p.count_type);
                if (data_.size() - at < cs) return false;
                const std::int64_t n = load_int(p.count_type, data_.data() + at, swap);
                at += cs;
                const std::size_t is = size_of(p.type);
                if (n < 0 || static_cast<std::uint64_t>(n) > (data_.size() - at) / is) return false;
                if (&p == idx_prop) corners_before[k / part + 1] += static_cast<std::uint64_t>(n);
                at += static_cast<std::size_t>(n) * is;
            }
        }
        for (std::size_t k = 0; k < parts; ++k) corners_before[k + 1] += corners_before[k];
        const std::size_t first_corner = mesh_.indices.size(), first_face = mesh_.offsets.size();
        if (first_corner + corners_before[parts] > max_u32) return false;
        mesh_.indices.resize(first_corner + static_cast<std::size_t>(corners_before[parts]));
        mesh_.offsets.resize(first_face + count);
        const std::uint64_t vertices = vertex_count_now();
        std::atomic<bool> bad{false};
        run_tasks(threads_, parts, [&](std::size_t k) {
            const char* q = data_.data() + part_pos[k];
            auto corner = first_corner + static_cast<std::size_t>(corners_before[k]);
            const std::size_t end = std::min(count, (k + 1) * part);
            for (std::size_t f = k * part; f < end; ++f) {
                for (const Property& p : el.props) {
                    if (!p.is_list) {
                        q += size_of(p.type);
                        continue;
                    }
                    const auto n = static_cast<std::size_t>(load_int(p.count_type, q, swap));
                    q += size_of(p.count_type);
                    const std::size_t is = size_of(p.type);
                    if (&p == idx_prop) {
                        if (n < 3) {
                            bad.store(true, std::memory_order_relaxed);
                            return;
                        }
                        for (std::size_t j = 0; j < n; ++j) {
                            const std::int64_t v = load_int(p.type, q + j * is, swap);
                            if (v < 0 || static_cast<std::uint64_t>(v) >= vertices) {
                                bad.store(true, std::memory_order_relaxed);
                                return;
                            }
                            mesh_.indices[corner++] = static_cast<std::uint32_t>(v);
                        }
                        mesh_.offsets[first_face + f] = static_cast<std::uint32_t>(corner);
                    }
                    q += n * is;
                }
            }
        });
        if (bad.load()) {
            mesh_.indices.resize(first_corner);
            mesh_.offsets.resize(first_face);
            return false;
        }
        ++elements_in_parts_;
        pos_ = at;
        return true;
    }

    // An ASCII element with one instance per line, as exporters write it: its lines are found by counting
    // line ends in parts, then each part parses its own lines (faces into arrays of their own, copied into
    // place once the index counts are known).
    bool ascii_in_parts(const Element& el, bool is_vertex) {
        // The element starts on the line after the previous value, or here when this is a line's start.
        std::size_t s = pos_, first = pos_, first_line = line_;
        while (s < data_.size() && detail::is_blank(data_[s])) ++s;
        if (s < data_.size() && data_[s] == '\n') {
            first = s + 1;
            ++first_line;
        } else if (pos_ == 0 || data_[pos_ - 1] != '\n') {
            return false;
        }
        const auto count = static_cast<std::size_t>(el.count);
        const std::optional<detail::LineParts> cut = detail::cut_lines(
            data_, first, count, detail::line_part_bytes(data_.size() - first, threads_, part_instances_), threads_);
        if (!cut) return false;  // fewer lines than instances
        const std::size_t parts = cut->parts();
        const std::vector<std::size_t>& ends = cut->ends;
        const std::vector<std::size_t>& first_instance = cut->first_line;

        std::vector<detail::PartFaces> faces(is_vertex ? 0 : parts);
        std::size_t last_value_end = first;
        const std::size_t first_vertex = mesh_.positions.size();
        if (is_vertex) mesh_.positions.resize(first_vertex + 3 * count);
        const std::uint64_t vertices = vertex_count_now();
        std::atomic<bool> bad{false};
        run_tasks(threads_, parts, [&](std::size_t k) {
            try {
                const char* q = data_.data() + cut->begin(k);
                const char* const end = data_.data() + ends[k];
                auto token = [&] {
                    while (q < end && detail::is_blank(*q)) ++q;
                    const char* b = q;
                    while (q < end && !is_space(*q)) ++q;
                    if (q == b) throw Misfit{};  // the line ends before the instance does
                    return std::string_view(b, static_cast<std::size_t>(q - b));
                };
                for (std::size_t n = first_instance[k]; n < first_instance[k + 1]; ++n) {
                    for (std::size_t i = 0; i < el.props.size(); ++i) {
                        const Property& p = el.props[i];
                        if (!p.is_list) {
                            const std::string_view tok = token();
                            if (is_vertex && (i == xyz_[0] || i == xyz_[1] || i == xyz_[2]))
                                mesh_.positions[first_vertex + 3 * n +
                                                (i == xyz_[0]   ? 0
                                                 : i == xyz_[1] ? 1
                                                                : 2)] =
                                    is_integer(p.type) ? static_cast<double>(ascii_int(tok, p.type, "coordinate"))
                                                       : ascii_real(tok, "coordinate", true);
                            else
                                ascii_scalar(p.type, "value", tok);
                            continue;
                        }
                        const std::int64_t size = ascii_int(token(), p.count_type, "list count");
                        const bool indices = !is_vertex && i == index_prop_;
                        if (size < 0 || (indices && size < 3)) throw Misfit{};
                        for (std::int64_t j = 0; j < size; ++j) {
                            const std::string_view item = token();
                            if (!indices) {
                                ascii_scalar(p.type, "list value", item);
                                continue;
                            }
                            const std::int64_t v = ascii_int(item, p.type, "vertex index");
                            if (v < 0 || static_cast<std::uint64_t>(v) >= vertices) throw Misfit{};
                            faces[k].indices.push_back(static_cast<std::uint32_t>(v));
                        }
                        if (indices) faces[k].sizes.push_back(static_cast<std::uint32_t>(size));
                    }
                    const char* value_end = q;
                    while (q < end && detail::is_blank(*q)) ++q;
                    if (q < end && *q != '\n') throw Misfit{};  // more than one instance on the line
                    if (q < end) ++q;
                    if (n + 1 == count) last_value_end = static_cast<std::size_t>(value_end - data_.data());
                }
            } catch (...) {  // a misfit or an error: the single pass says which, and where
                bad.store(true, std::memory_order_relaxed);
            }
        });
        if (!bad.load() && !is_vertex && !detail::append_faces(mesh_, faces, threads_)) bad.store(true);
        if (bad.load()) {
            if (is_vertex) mesh_.positions.resize(first_vertex);
            return false;
        }
        pos_ = last_value_end;
        line_ = first_line + count - 1;
        ++elements_in_parts_;
        return true;
    }

    struct Misfit {};

    std::string_view data_;
    const std::string& name_;
    std::size_t pos_ = 0;
    std::size_t line_ = 1;
    Encoding encoding_ = Encoding::ascii;
    std::vector<Element> elements_;
    std::size_t vertex_el_ = none, face_el_ = none, index_prop_ = none;
    std::size_t xyz_[3] = {none, none, none};
    double vertex_tmp_[3] = {0, 0, 0};
    PolygonMesh mesh_;
    std::uint64_t max_index_ = none;
    std::uint64_t max_index_where_ = 0;
    // A header of nothing but unknown lines is told in a few warnings, not one per line.
    static constexpr std::size_t kMaxUnknownLinesTold = 10;
    std::size_t unknown_lines_ = 0;
    detail::FaceLayout* layout_;
    unsigned threads_;
    std::size_t part_instances_;

public:
    std::size_t elements_in_parts_ = 0;  // vertex and face elements converted in parts
};

}  // namespace

PolygonMesh parse_ply(std::string_view bytes, const std::string& name) {
    return PlyParser(bytes, name, nullptr, work_threads()).run();
}

PolygonMesh detail::parse_ply_in_parts(std::string_view bytes, const std::string& name, unsigned threads,
                                       std::size_t part_instances, std::size_t* elements_in_parts) {
    PlyParser parser(bytes, name, nullptr, threads, std::max<std::size_t>(part_instances, 1));
    PolygonMesh mesh = parser.run();
    if (elements_in_parts) *elements_in_parts = parser.elements_in_parts_;
    return mesh;
}

PolygonMesh detail::parse_ply(std::string_view bytes, const std::string& name, FaceLayout* layout) {
    return PlyParser(bytes, name, layout).run();
}

}  // namespace torvel::io
