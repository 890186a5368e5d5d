#include "html_report.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "assets.h"

namespace torvel::report {

// The page reads the arrays as typed arrays, which have the machine's byte order: little-endian here.
static_assert(std::endian::native == std::endian::little);

namespace {

using nlohmann::json;

// The arrays of one file, one after another, each at a multiple of 8 bytes (typed arrays need aligned
// offsets). Each array is named in the file's JSON as [byte offset, count, type].
class Blob {
public:
    template <typename T>
    json add(std::span<const T> values, const char* type) {
        bytes_.resize((bytes_.size() + 7) / 8 * 8, '\0');
        const std::size_t at = bytes_.size();
        bytes_.resize(at + values.size_bytes());
        if (!values.empty()) std::memcpy(bytes_.data() + at, values.data(), values.size_bytes());
        return json::array({at, values.size(), type});
    }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Base64 in pieces of a few hundred kilobytes, so that a large mesh never needs a second whole copy.
void write_base64(std::string_view bytes, const HtmlReport::Sink& sink) {
    constexpr std::size_t kPiece = 3 * 100000;
    std::string out;
    for (std::size_t start = 0; start < bytes.size(); start += kPiece) {
        const std::string_view piece = bytes.substr(start, kPiece);
        out.clear();
        std::size_t i = 0;
        auto byte = [&](std::size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(piece[k])); };
        for (; i + 3 <= piece.size(); i += 3) {
            const unsigned v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
            for (int s = 18; s >= 0; s -= 6) out += kBase64[(v >> s) & 63];
        }
        if (const std::size_t rest = piece.size() - i; rest > 0) {
            const unsigned v = byte(i) << 16 | (rest > 1 ? byte(i + 1) << 8 : 0u);
            out += kBase64[(v >> 18) & 63];
            out += kBase64[(v >> 12) & 63];
            out += rest > 1 ? kBase64[(v >> 6) & 63] : '=';
            out += '=';
        }
        sink(out);
    }
}

// JSON that can stand inside <script>: no '<', '>' or '&' in it, so no "</script>" or "<!--" either.
// Bytes that are not UTF-8 (a file name) become U+FFFD.
std::string script_json(const json& value) {
    const std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '<')
            out += "\\u003c";
        else if (c == '>')
            out += "\\u003e";
        else if (c == '&')
            out += "\\u0026";
        else
            out += c;
    }
    return out;
}

std::string object_name(const FileReport& file, std::size_t k) {
    return file.path + ": object " + std::to_string(k) + " (\"" + file.objects[k].name + "\")";
}

// The object's arrays must agree with each other: the page indexes with them unchecked.
void check_object(const FileReport& file, std::size_t k) {
    const Object& o = file.objects[k];
    const auto fail = [&](const std::string& what) { throw std::invalid_argument(object_name(file, k) + ": " + what); };
    if (o.mesh.positions.size() % 3) fail("the positions are not x, y, z triples");
    const std::size_t polygons = o.mesh.offsets.empty() ? 0 : o.mesh.offsets.size() - 1;
    if (!o.mesh.offsets.empty() && o.mesh.offsets.front() != 0) fail("the offsets do not start at 0");
    for (std::size_t p = 0; p < polygons; ++p)
        if (o.mesh.offsets[p + 1] < o.mesh.offsets[p])
            fail("the offsets of polygon " + std::to_string(p) + " run backwards");
    if ((o.mesh.offsets.empty() ? 0 : o.mesh.offsets.back()) != o.mesh.indices.size())
        fail("the offsets end at " + std::to_string(o.mesh.offsets.empty() ? 0 : o.mesh.offsets.back()) +
             ", not at the " + std::to_string(o.mesh.indices.size()) + " indices");
    const std::size_t vertices = o.mesh.positions.size() / 3;
    for (std::size_t i = 0; i < o.mesh.indices.size(); ++i)
        if (o.mesh.indices[i] >= vertices)
            fail("vertex index " + std::to_string(o.mesh.indices[i]) + " at corner " + std::to_string(i) +
                 " is out of range (" + std::to_string(vertices) + " vertices)");
    if (o.states.size() != polygons)
        fail(std::to_string(o.states.size()) + " states for " + std::to_string(polygons) + " polygons");
    for (std::size_t p = 0; p < polygons; ++p)
        if (static_cast<unsigned>(o.states[p]) > static_cast<unsigned>(PolygonState::degenerate))
            fail("polygon " + std::to_string(p) + " has no state");
}

// The centre and radius of the finite positions' bounding box.
std::pair<std::array<double, 3>, double> bounds(std::span<const double> positions) {
    std::array<double, 3> lo, hi;
    lo.fill(std::numeric_limits<double>::infinity());
    hi.fill(-std::numeric_limits<double>::infinity());
    for (std::size_t i = 0; i + 2 < positions.size(); i += 3) {
        if (!std::isfinite(positions[i]) || !std::isfinite(positions[i + 1]) || !std::isfinite(positions[i + 2]))
            continue;
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], positions[i + a]);
            hi[a] = std::max(hi[a], positions[i + a]);
        }
    }
    if (lo[0] > hi[0]) return {{0, 0, 0}, 0};
    std::array<double, 3> centre;
    double r2 = 0;
    for (int a = 0; a < 3; ++a) {
        centre[a] = lo[a] + (hi[a] - lo[a]) / 2;
        r2 += (hi[a] - lo[a]) * (hi[a] - lo[a]) / 4;
    }
    return {centre, std::sqrt(r2)};
}

template <typename T>
std::span<const T> as_span(const std::vector<T>& v) {
    return {v.data(), v.size()};
}

json histogram_json(const Histogram& h) {
    return {{"edges", Histogram::kEdges}, {"bands", h.bands}, {"degenerate", h.degenerate}, {"reported", h.reported}};
}

// The details as columns, NaN or -1 where a value is empty: a list of a million rows stays compact.
json details_json(const FileReport& file, Blob& blob) {
    const std::size_t n = file.details.size();
    std::vector<std::uint32_t> index(n), object(n), vertices(n);
    std::vector<double> line(n);
    std::vector<float> bend(n), out_of_plane(n);
    std::vector<std::int32_t> corner(n);
    std::vector<std::uint8_t> cause(n);
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t r = 0; r < n; ++r) {
        const Detail& d = file.details[r];
        if (d.object >= file.objects.size())
            throw std::invalid_argument(file.path + ": the details of polygon " + std::to_string(d.index) +
                                        " name object " + std::to_string(d.object) + " of " +
                                        std::to_string(file.objects.size()));
        index[r] = d.index;
        object[r] = d.object;
        vertices[r] = d.vertices;
        line[r] = d.line ? static_cast<double>(*d.line) : kNone;
        bend[r] = static_cast<float>(d.bend.value_or(kNone));
        out_of_plane[r] = static_cast<float>(d.out_of_plane.value_or(kNone));
        corner[r] =
            d.degenerate ? static_cast<std::int32_t>(std::min<std::uint32_t>(d.degenerate->corner, INT32_MAX)) : -1;
        // The page knows the causes by number (its CAUSES), in geometry's order.
        cause[r] = !d.degenerate ? 0 : d.degenerate->cause == "zero-length edge" ? 1 : 2;
    }
    return {{"count", n},
            {"line", blob.add(as_span(line), "f64")},
            {"index", blob.add(as_span(index), "u32")},
            {"object", blob.add(as_span(object), "u32")},
            {"vertices", blob.add(as_span(vertices), "u32")},
            {"bend", blob.add(as_span(bend), "f32")},
            {"out_of_plane", blob.add(as_span(out_of_plane), "f32")},
            {"corner", blob.add(as_span(corner), "i32")},
            {"cause", blob.add(as_span(cause), "u8")}};
}

}  // namespace

std::string escape_html(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

HtmlReport::HtmlReport(Sink sink) : sink_(std::move(sink)) {
    sink_(
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>torvel "
        "check</title>\n<style>\n");
    sink_(detail::page_css());
    sink_("</style>\n");
    for (const std::string_view script : {detail::three_js(), detail::orbit_controls_js(), detail::page_js()}) {
        sink_("<script>\n");
        sink_(script);
        sink_("\n</script>\n");
    }
    sink_("</head>\n<body>\n<main>\n<ul id=\"errors\"></ul>\n");
}

std::string file_section(const FileReport& file, std::size_t number) {
    for (std::size_t k = 0; k < file.objects.size(); ++k) check_object(file, k);
    Blob blob;
    json objects = json::array();
    std::uint64_t first = 0;
    for (const Object& o : file.objects) {
        const auto [centre, radius] = bounds(o.mesh.positions);
        std::vector<float> local(o.mesh.positions.size());
        for (std::size_t i = 0; i < local.size(); ++i)
            local[i] = static_cast<float>(o.mesh.positions[i] - centre[i % 3]);
        const std::size_t polygons = o.mesh.polygon_count();
        static constexpr std::uint32_t kNoPolygons[] = {0};
        const std::span<const std::uint32_t> offsets =
            o.mesh.offsets.empty() ? std::span<const std::uint32_t>(kNoPolygons) : o.mesh.offsets;
        objects.push_back(
            {{"name", o.name},
             {"centre", centre},
             {"radius", radius},
             {"first", first},
             {"polygons", polygons},
             {"positions", blob.add(as_span(local), "f32")},
             {"offsets", blob.add(offsets, "u32")},
             {"indices", blob.add(o.mesh.indices, "u32")},
             {"states", blob.add(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(o.states.data()),
                                                               o.states.size()),
                                 "u8")}});
        first += polygons;
    }
    json meta = {{"path", file.path},
                 {"tolerance", file.tolerance},
                 {"precision", file.precision},
                 {"polygons", file.polygons},
                 {"reported", file.non_planar.size()},
                 {"objects", std::move(objects)},
                 {"histogram", file.histogram ? histogram_json(*file.histogram) : json()}};
    meta["details"] = details_json(file, blob);

    std::string out = "<section class=\"file\" id=\"file-" + std::to_string(number) + "\">\n<h2>" +
                      escape_html(file.path) + "</h2>\n<script type=\"application/json\" class=\"meta\">";
    out += script_json(meta);
    out += "</script>\n<script type=\"application/octet-stream\" class=\"blob\">";
    write_base64(blob.bytes(), [&out](std::string_view bytes) { out += bytes; });
    out += "</script>\n</section>\n";
    return out;
}

void HtmlReport::add(const FileReport& file) {
    const std::size_t number = files_++;
    add_section(file_section(file, number), file.path, file.non_planar.size(), number);
}

void HtmlReport::add_section(std::string_view section, std::string_view path, std::size_t reported,
                             std::size_t number) {
    sink_(section);
    nav_ += "<a href=\"#file-" + std::to_string(number) + "\">" + escape_html(path);
    if (reported) nav_ += "<span class=\"n\">" + std::to_string(reported) + "</span>";
    nav_ += "</a>\n";
}

void HtmlReport::add_error(std::string_view path, std::string_view message) {
    nav_ += "<div class=\"failed\" title=\"" + escape_html(message) + "\">" + escape_html(path) + ": " +
            escape_html(message) + "</div>\n";
}

void HtmlReport::finish() {
    sink_("</main>\n<nav id=\"files\">\n<h1>torvel check</h1>\n" + nav_ + "</nav>\n</body>\n</html>\n");
}

std::string html_report(std::span<const FileReport> files) {
    std::string out;
    HtmlReport report([&out](std::string_view bytes) { out += bytes; });
    for (const FileReport& f : files) report.add(f);
    report.finish();
    return out;
}

}  // namespace torvel::report
