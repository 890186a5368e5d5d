#include "measure.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "html_report.h"
#include "render.h"

namespace torvel {

namespace {

std::string number_text(double value) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

std::vector<PolygonDetail> describe_reported(std::span<const CheckedObject> objects,
                                             std::span<const std::uint32_t> reported) {
    std::vector<PolygonDetail> details;
    details.reserve(reported.size());
    auto next = reported.begin();
    for (const CheckedObject& object : objects) {
        const auto count = static_cast<std::uint32_t>(object.mesh.polygon_count());
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

// The object holding file polygon `index`: the last that starts at or before it.
std::size_t object_of(std::span<const CheckedObject> objects, std::uint32_t index) {
    return static_cast<std::size_t>(
        std::upper_bound(objects.begin(), objects.end(), index,
                         [](std::uint32_t i, const CheckedObject& c) { return i < c.first; }) -
        objects.begin() - 1);
}

// A polygon's state is the filter's verdict, told apart as degenerate when it has a zero corner normal.
template <class State>
std::vector<std::vector<State>> polygon_states(std::span<const CheckedObject> objects,
                                               std::span<const PolygonDetail> details,
                                               std::span<const std::uint32_t> reported, State planar, State is_reported,
                                               State degenerate) {
    std::vector<std::vector<State>> states;
    for (const CheckedObject& object : objects) states.emplace_back(object.mesh.polygon_count(), planar);
    for (const std::uint32_t index : reported) {
        const std::size_t o = object_of(objects, index);
        states[o][index - objects[o].first] = is_reported;
    }
    for (const PolygonDetail& d : details)
        if (d.degenerate) {
            const std::size_t o = object_of(objects, d.index);
            states[o][d.index - objects[o].first] = degenerate;
        }
    return states;
}

std::vector<unsigned char> picture(std::span<const CheckedObject> objects, std::span<const PolygonDetail> details,
                                   const FileReport& report) {
    auto states = polygon_states(objects, details, report.non_planar, render::PolygonState::planar,
                                 render::PolygonState::reported, render::PolygonState::degenerate);
    std::vector<render::Object> views;
    std::uint64_t polygons = 0, degenerate = 0;
    for (std::size_t o = 0; o < objects.size(); ++o) {
        views.push_back({objects[o].mesh, states[o]});
        polygons += states[o].size();
    }
    for (const PolygonDetail& d : details) degenerate += d.degenerate.has_value();
    render::Picture sheet;
    sheet.caption = {report.path, std::to_string(report.non_planar.size()) + " of " + std::to_string(polygons) +
                                      " polygons non-planar at " + number_text(report.tolerance) + " degrees, " +
                                      std::to_string(degenerate) + " of them degenerate"};
    return render::render_png(views, sheet);
}

// The report page's section: the mesh as the check read it, the polygons in the states the verdict gives,
// every reported polygon's details (worst first) and the file's histogram.
std::string html_section(std::span<const CheckedObject> objects, std::span<const PolygonDetail> details,
                         const geometry::BendHistogram& histogram, const FileReport& report, std::size_t number) {
    report::FileReport file;
    file.path = report.path;
    file.tolerance = report.tolerance;
    file.precision = report.precision;
    file.polygons = report.polygons;
    file.non_planar = report.non_planar;
    file.histogram.emplace();
    file.histogram->bands = histogram.bands;
    file.histogram->degenerate = histogram.degenerate;
    file.histogram->reported = histogram.reported();
    auto states = polygon_states(objects, details, report.non_planar, report::PolygonState::planar,
                                 report::PolygonState::reported, report::PolygonState::degenerate);
    for (const PolygonDetail& d : details) {
        report::Detail out;
        out.index = d.index;
        out.object = static_cast<std::uint32_t>(object_of(objects, d.index));
        out.vertices = d.vertices;
        if (d.line) out.line = *d.line;
        out.bend = d.bend;
        if (d.degenerate)
            out.degenerate =
                report::Degenerate{d.degenerate->corner, std::string(geometry::cause_text(d.degenerate->cause))};
        out.out_of_plane = d.out_of_plane;
        file.details.push_back(std::move(out));
    }
    for (std::size_t k = 0; k < objects.size(); ++k)
        file.objects.push_back({objects[k].name, objects[k].mesh, std::move(states[k])});
    return report::file_section(file, number);
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
        objects.empty() ? 0 : objects.back().first + static_cast<std::uint32_t>(objects.back().mesh.polygon_count());
    const std::size_t count = mesh.polygon_count();
    const std::size_t skip = std::min<std::size_t>(file_lines.size(), first);
    objects.push_back(
        {std::move(name), mesh, first, file_lines.subspan(skip, std::min(file_lines.size() - skip, count))});
}

void measure_file(const CheckOptions& options, std::span<const CheckedObject> objects, FileReport& report) {
    const bool details = options.details || options.top.has_value();
    const bool html = options.html_section.has_value();
    std::vector<PolygonDetail> all;
    if (details || options.image || html) {
        all = describe_reported(objects, report.non_planar);
        std::stable_sort(all.begin(), all.end(), worse_detail);
    }
    if (options.image) report.image = picture(objects, all, report);
    if (options.histogram || html) {
        geometry::BendHistogram histogram;
        for (const CheckedObject& object : objects)
            geometry::add_histogram(histogram, geometry::bend_histogram(object.mesh));
        if (html) report.html = html_section(objects, all, histogram, report, *options.html_section);
        if (options.histogram) report.histogram = histogram;
    }
    if (details) {
        if (options.top && all.size() > *options.top) all.resize(*options.top);
        report.details = std::move(all);
    }
}

}  // namespace torvel
