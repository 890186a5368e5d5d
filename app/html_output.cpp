// The report page's model from what a check knows: the file's arrays, the filter's verdict, and the
// geometry library's description of the reported polygons.
#include "html_output.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "html_report.h"
#include "measure.h"
#include "mesh_io.h"
#include "mesh_load.h"
#include "polygon_shape.h"

namespace torvel::app {

namespace {

report::Histogram histogram_of(const geometry::BendHistogram& h) {
    report::Histogram out;
    out.bands = h.bands;
    out.degenerate = h.degenerate;
    out.reported = h.reported();
    return out;
}

// The file read again as the check read it (objects, precision), its polygons in the states the filter's
// verdict gives, and the details and histogram the check's own measures give (the same order). The
// report's objects read the arrays of `objects`, which the caller keeps while it adds the report.
report::FileReport file_report(const FileResult& result, double tolerance, const importer::Limits& limits,
                               std::vector<PolygonMesh>& objects) {
    LoadedFile loaded = load_mesh_file(result.path, limits);
    objects = split_objects(loaded, fs::path(result.path).stem().string());
    std::size_t polygons = 0;
    for (const PolygonMesh& o : objects) polygons += o.polygon_count();
    if (polygons != result.polygons || objects.size() != result.objects.size())
        throw FileError(result.path + ": the file changed while it was checked (" + std::to_string(polygons) +
                            " polygons now, " + std::to_string(result.polygons) + " when checked)",
                        {}, ErrorCode::file_changed);
    report::FileReport file;
    file.path = result.path;
    file.tolerance = tolerance;
    file.precision = loaded.precision;
    file.polygons = result.polygons;
    file.non_planar = result.non_planar;

    std::vector<CheckedObject> checked;
    for (std::size_t k = 0; k < objects.size(); ++k)
        add_checked_object(checked, result.objects[k].name, objects[k].view(), loaded.mesh.face_lines);
    Measures measures =
        measure_file({true, std::nullopt, true, false}, checked, result.non_planar, result.path, tolerance);
    file.histogram = histogram_of(*measures.histogram);

    std::vector<std::vector<report::PolygonState>> states(objects.size());
    for (std::size_t k = 0; k < states.size(); ++k)
        states[k].assign(objects[k].polygon_count(), report::PolygonState::planar);
    for (const PolygonDetail& d : measures.details) {
        // The last object that starts at or before the polygon.
        const auto k = static_cast<std::uint32_t>(
            std::upper_bound(checked.begin(), checked.end(), d.index,
                             [](std::uint32_t i, const CheckedObject& c) { return i < c.first; }) -
            checked.begin() - 1);
        states[k][d.index - checked[k].first] =
            d.degenerate ? report::PolygonState::degenerate : report::PolygonState::reported;
        report::Detail out;
        out.index = d.index;
        out.object = k;
        out.vertices = d.vertices;
        if (d.line) out.line = *d.line;
        out.bend = d.bend;
        if (d.degenerate)
            out.degenerate = report::Degenerate{d.degenerate->corner, std::string(cause_text(d.degenerate->cause))};
        out.out_of_plane = d.out_of_plane;
        file.details.push_back(std::move(out));
    }
    for (std::size_t k = 0; k < objects.size(); ++k)
        file.objects.push_back({result.objects[k].name, objects[k].view(), std::move(states[k])});
    return file;
}

}  // namespace

HtmlOutput::HtmlOutput(const fs::path& path, const RunFiles& files, const importer::Limits& limits)
    : path_(path), file_(path, "--html " + path.string(), &files, role::report), limits_(limits) {
    page_ = std::make_unique<report::HtmlReport>([this](std::string_view bytes) { file_.write(bytes); });
}

HtmlOutput::~HtmlOutput() = default;

void HtmlOutput::add(const FileResult& result, double tolerance) {
    if (failed_) return;
    std::string problem;
    try {
        std::vector<PolygonMesh> objects;
        page_->add(file_report(result, tolerance, limits_, objects));
        return;
    } catch (const FileError& e) {
        // A write of the report itself failed: the page is lost, the run goes on.
        if (e.file() == "--html " + path_.string()) {
            failed_ = e;
            return;
        }
        problem = e.what();
    } catch (const geometry::GeometryError& e) {
        problem = result.path + ": " + e.what();
    } catch (const std::exception& e) {  // the reader's and the page's messages name the file
        problem = e.what();
    }
    add_error(result.path, problem);
}

void HtmlOutput::add_error(const std::string& path, const std::string& message) {
    if (!failed_) page_->add_error(path, message);
}

void HtmlOutput::finish() {
    if (!failed_) {
        try {
            page_->finish();
            file_.commit();
            return;
        } catch (const FileError& e) {
            failed_ = e;
        }
    }
    throw *failed_;
}

}  // namespace torvel::app
