#include "measure.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <set>

#include "app.h"
#include "check.h"
#include "render.h"

namespace torvel::app {

namespace {

constexpr std::size_t kBarWidth = 40;

std::string fixed(double value, const char* format) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::vector<PolygonDetail> describe_reported(std::span<const CheckedObject> objects,
                                             std::span<const std::uint32_t> reported) {
    std::vector<PolygonDetail> details;
    details.reserve(reported.size());
    auto next = reported.begin();
    for (const CheckedObject& object : objects) {
        const auto count = static_cast<std::uint32_t>(object.mesh.offsets.size() - 1);
        const auto end = std::lower_bound(next, reported.end(), std::uint64_t{object.first} + count);
        std::vector<std::uint32_t> local;
        for (auto it = std::lower_bound(next, end, object.first); it != end; ++it) local.push_back(*it - object.first);
        next = end;
        const std::vector<geometry::PolygonShape> shapes = geometry::describe_mesh(object.mesh, local);
        for (std::size_t k = 0; k < local.size(); ++k) {
            PolygonDetail d;
            d.index = object.first + local[k];
            d.object = object.name;
            d.vertices = shapes[k].corners;
            if (local[k] < object.face_lines.size()) d.line = object.face_lines[local[k]];
            d.bend = shapes[k].bend;
            d.degenerate = shapes[k].degenerate;
            d.out_of_plane = shapes[k].out_of_plane;
            details.push_back(std::move(d));
        }
    }
    return details;
}

// Describes: a polygon's state is the filter's verdict, told apart as degenerate when it has a zero
// corner normal.
std::vector<unsigned char> picture(std::span<const CheckedObject> objects, std::span<const PolygonDetail> details,
                                   std::span<const std::uint32_t> reported, const std::string& path, double tolerance) {
    std::vector<std::vector<render::PolygonState>> states;
    std::vector<render::Object> views;
    std::uint64_t polygons = 0, degenerate = 0;
    for (const CheckedObject& object : objects) {
        states.emplace_back(object.mesh.offsets.size() - 1, render::PolygonState::planar);
        polygons += states.back().size();
    }
    for (const std::uint32_t index : reported)
        for (std::size_t o = objects.size(); o-- > 0;)
            if (index >= objects[o].first) {
                states[o][index - objects[o].first] = render::PolygonState::reported;
                break;
            }
    for (const PolygonDetail& d : details) {
        if (!d.degenerate) continue;
        ++degenerate;
        for (std::size_t o = objects.size(); o-- > 0;)
            if (d.index >= objects[o].first) {
                states[o][d.index - objects[o].first] = render::PolygonState::degenerate;
                break;
            }
    }
    for (std::size_t o = 0; o < objects.size(); ++o) views.push_back({objects[o].mesh, states[o]});
    render::Picture sheet;
    sheet.caption = {path, std::to_string(reported.size()) + " of " + std::to_string(polygons) +
                               " polygons non-planar at " + format_number(tolerance) + " degrees, " +
                               std::to_string(degenerate) + " of them degenerate"};
    return render::render_png(views, sheet);
}

}  // namespace

bool worse_detail(const PolygonDetail& a, const PolygonDetail& b) {
    // 0: measured bend, 1: a bend that could not be measured, 2: degenerate.
    auto rank = [](const PolygonDetail& d) { return d.degenerate ? 2 : d.bend && !std::isnan(*d.bend) ? 0 : 1; };
    const int ra = rank(a), rb = rank(b);
    if (ra != rb) return ra < rb;
    if (ra == 0 && *a.bend != *b.bend) return *a.bend > *b.bend;
    return a.index < b.index;
}

void add_checked_object(std::vector<CheckedObject>& objects, std::string name, const MeshView& mesh,
                        std::span<const std::uint32_t> file_lines) {
    const std::uint32_t first =
        objects.empty() ? 0 : objects.back().first + static_cast<std::uint32_t>(objects.back().mesh.offsets.size() - 1);
    const std::size_t count = mesh.offsets.empty() ? 0 : mesh.offsets.size() - 1;
    const std::size_t skip = std::min<std::size_t>(file_lines.size(), first);
    objects.push_back(
        {std::move(name), mesh, first, file_lines.subspan(skip, std::min(file_lines.size() - skip, count))});
}

Measures measure_file(const MeasureRequest& request, std::span<const CheckedObject> objects,
                      std::span<const std::uint32_t> reported, const std::string& path, double tolerance) {
    Measures out;
    if (request.details || request.image) {
        out.details = describe_reported(objects, reported);
        std::stable_sort(out.details.begin(), out.details.end(), worse_detail);
    }
    if (request.image) out.image = picture(objects, out.details, reported, path, tolerance);
    if (!request.details) out.details.clear();
    if (request.top && out.details.size() > *request.top) out.details.resize(*request.top);
    if (request.histogram) {
        out.histogram.emplace();
        for (const CheckedObject& object : objects)
            add_histogram(*out.histogram, geometry::bend_histogram(object.mesh));
    }
    return out;
}

std::vector<std::string> detail_lines(std::span<const PolygonDetail> details) {
    std::vector<std::string> lines;
    for (const PolygonDetail& d : details) {
        std::string line =
            "  polygon " + std::to_string(d.index) + " (" + d.object + ", " + std::to_string(d.vertices) + " vertices";
        if (d.line) line += ", line " + std::to_string(*d.line);
        line += "): ";
        if (d.degenerate)
            line += "degenerate at corner " + std::to_string(d.degenerate->corner) + " (" +
                    std::string(geometry::cause_text(d.degenerate->cause)) + ")";
        else if (d.bend && !std::isnan(*d.bend))
            line += "bend " + fixed(*d.bend, "%.2f") + "\u00b0";
        else
            line += "bend not measurable (a coordinate is not finite)";
        if (d.out_of_plane) line += ", out of plane " + fixed(*d.out_of_plane, "%.4g");
        lines.push_back(std::move(line));
    }
    return lines;
}

void add_histogram(geometry::BendHistogram& a, const geometry::BendHistogram& b) {
    for (std::size_t k = 0; k < a.bands.size(); ++k) a.bands[k] += b.bands[k];
    a.degenerate += b.degenerate;
    a.at_90 += b.at_90;
    a.small += b.small;
    a.not_finite += b.not_finite;
}

namespace {

std::uint64_t measured_polygons(const geometry::BendHistogram& h) {
    std::uint64_t n = h.degenerate + h.not_finite;
    for (const std::uint64_t c : h.bands) n += c;
    return n;
}

std::string band_name(std::size_t k) {
    return format_number(geometry::kBendBandEdges[k]) + "-" + format_number(geometry::kBendBandEdges[k + 1]) + "\u00b0";
}

}  // namespace

std::vector<std::string> histogram_lines(const geometry::BendHistogram& h, const std::string& title, bool bars) {
    std::vector<std::string> lines{title + " of " + std::to_string(measured_polygons(h)) +
                                   " polygons of 4 or more vertices:"};
    std::uint64_t most = h.degenerate;
    for (const std::uint64_t c : h.bands) most = std::max(most, c);
    auto row = [&](const std::string& name, std::uint64_t count) {
        char buf[64];
        // The degree sign is two bytes and one column: pad as if it were one.
        const int pad = name.find("\u00b0") == std::string::npos ? 12 : 13;
        std::snprintf(buf, sizeof buf, "    %-*s%10" PRIu64, pad, name.c_str(), count);
        std::string line = buf;
        if (bars && count > 0) {
            const std::size_t width = std::max<std::size_t>(1, static_cast<std::size_t>(count * kBarWidth / most));
            line += ' ';
            for (std::size_t i = 0; i < width; ++i) line += "\u2588";
        }
        lines.push_back(std::move(line));
    };
    for (std::size_t k = 0; k < h.bands.size(); ++k) row(band_name(k), h.bands[k]);
    row("degenerate", h.degenerate);
    if (h.not_finite) row("not finite", h.not_finite);
    std::string reported = "    reported at";
    const auto at = h.reported();
    for (std::size_t k = 0; k < at.size(); ++k)
        reported += (k ? ", " : " ") + format_number(geometry::kBendBandEdges[k]) + "\u00b0: " + std::to_string(at[k]);
    lines.push_back(std::move(reported));
    return lines;
}

Json details_json(std::span<const PolygonDetail> details) {
    Json out = Json::array();
    for (const PolygonDetail& d : details) {
        Json degenerate;
        if (d.degenerate)
            degenerate = Json{{"corner", d.degenerate->corner}, {"cause", geometry::cause_text(d.degenerate->cause)}};
        out.push_back(Json{{"index", d.index},
                           {"object", d.object},
                           {"vertices", d.vertices},
                           {"line", d.line ? Json(*d.line) : Json()},
                           {"bend", d.bend && !std::isnan(*d.bend) ? Json(*d.bend) : Json()},
                           {"degenerate", std::move(degenerate)},
                           {"out_of_plane", d.out_of_plane ? Json(*d.out_of_plane) : Json()}});
    }
    return out;
}

Json histogram_json(const geometry::BendHistogram& h) {
    Json bands = Json::array(), reported = Json::array();
    for (std::size_t k = 0; k < h.bands.size(); ++k)
        bands.push_back(Json{
            {"from", geometry::kBendBandEdges[k]}, {"to", geometry::kBendBandEdges[k + 1]}, {"polygons", h.bands[k]}});
    const auto at = h.reported();
    for (std::size_t k = 0; k < at.size(); ++k)
        reported.push_back(Json{{"tolerance", geometry::kBendBandEdges[k]}, {"polygons", at[k]}});
    return Json{{"polygons", measured_polygons(h)},
                {"bands", std::move(bands)},
                {"degenerate", h.degenerate},
                {"reported", std::move(reported)}};
}

std::vector<fs::path> image_paths(const fs::path& image, std::span<const MeshInput> inputs) {
    std::error_code ec;
    std::vector<fs::path> out(inputs.size());
    if (inputs.size() == 1 && !fs::is_directory(image, ec)) {
        if (ascii_lowered(image.extension().string()) != ".png")
            throw UsageError("--image " + image.string() + ": pictures are PNG files; name one ending in .png" +
                             " (or a folder)");
        if (inputs.front().error.empty()) out.front() = image;
        return out;
    }
    if (fs::exists(image, ec) && !fs::is_directory(image, ec))
        throw UsageError("--image " + image.string() + ": the run checks " + std::to_string(inputs.size()) +
                         " mesh files, one picture each: name a folder");
    if (!fs::is_directory(image, ec) && !fs::create_directories(image, ec) && ec)
        throw FileError("--image " + image.string() + ": cannot make the folder: " + ec.message(), {},
                        ErrorCode::write_failed);
    std::set<std::string> used;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!inputs[i].error.empty()) continue;
        const std::string base = fs::path(inputs[i].path).filename().string();
        std::string name = base + ".png";
        for (int n = 2; used.count(name); ++n) name = base + "-" + std::to_string(n) + ".png";
        used.insert(name);
        out[i] = image / name;
    }
    return out;
}

void write_image(const fs::path& path, std::span<const unsigned char> png, const RunFiles& files) {
    OutputFile file(path, path.string(), &files, role::picture);
    file.write(std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
    file.commit();
}

}  // namespace torvel::app
