// The report page's model from what a check knows: the file's arrays, the filter's verdict, and the
// geometry library's description of the reported polygons.
#include "html_output.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "html_report.h"
#include "mesh_io.h"
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

// Worst first: degenerate polygons, then by bend downwards, then those whose bend is unknown; ties by index.
bool worse(const report::Detail& a, const report::Detail& b) {
    const auto rank = [](const report::Detail& d) { return d.degenerate ? 0 : d.bend && !std::isnan(*d.bend) ? 1 : 2; };
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    if (rank(a) == 1 && *a.bend != *b.bend) return *a.bend > *b.bend;
    return a.index < b.index;
}

report::FileReport file_report(const FileResult& result, double tolerance) {
    io::MeshData mesh = io::read_mesh(result.path);
    if (mesh.polygon_count() != result.polygons)
        throw FileError(result.path + ": the file changed while it was checked (" +
                        std::to_string(mesh.polygon_count()) + " polygons now, " + std::to_string(result.polygons) +
                        " when checked)");
    report::FileReport file;
    file.path = result.path;
    file.tolerance = tolerance;
    file.polygons = result.polygons;
    file.non_planar = result.non_planar;

    const geometry::MeshView view{mesh.positions, mesh.offsets, mesh.indices};
    file.histogram = histogram_of(geometry::bend_histogram(view));
    const std::vector<geometry::PolygonShape> shapes = geometry::describe_mesh(view, result.non_planar);

    report::Object object;
    object.name = fs::path(result.path).stem().string();
    object.states.assign(mesh.polygon_count(), report::PolygonState::planar);
    file.details.reserve(shapes.size());
    for (std::size_t k = 0; k < shapes.size(); ++k) {
        const std::uint32_t p = result.non_planar[k];
        const geometry::PolygonShape& s = shapes[k];
        object.states[p] = s.degenerate ? report::PolygonState::degenerate : report::PolygonState::reported;
        report::Detail d;
        d.index = p;
        d.vertices = s.corners;
        if (p < mesh.face_lines.size()) d.line = mesh.face_lines[p];
        d.bend = s.bend;
        if (s.degenerate) d.degenerate = report::Degenerate{s.degenerate->corner, std::string(cause_text(s.degenerate->cause))};
        d.out_of_plane = s.out_of_plane;
        file.details.push_back(std::move(d));
    }
    std::sort(file.details.begin(), file.details.end(), worse);
    object.positions = std::move(mesh.positions);
    object.offsets = std::move(mesh.offsets);
    object.indices = std::move(mesh.indices);
    file.objects.push_back(std::move(object));
    return file;
}

}  // namespace

HtmlOutput::HtmlOutput(const fs::path& path, std::span<const RunFile> protect)
    : path_(path), file_(path, "--html " + path.string(), protect) {
    page_ = std::make_unique<report::HtmlReport>([this](std::string_view bytes) { file_.write(bytes); });
}

HtmlOutput::~HtmlOutput() = default;

void HtmlOutput::add(const FileResult& result, double tolerance) {
    if (failed_) return;
    std::string problem;
    try {
        page_->add(file_report(result, tolerance));
        return;
    } catch (const FileError& e) {
        // A write of the report itself failed: the page is lost, the run goes on.
        if (e.file() == "--html " + path_.string()) {
            failed_ = e.what();
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
            failed_ = e.what();
        }
    }
    throw FileError(*failed_);
}

std::vector<RunFile> html_protect(std::span<const RunFile> reads, const CheckOptions& options) {
    std::vector<RunFile> out(reads.begin(), reads.end());
    if (options.log.file) out.push_back({*options.log.file, "the log"});
    if (options.output)
        for (const fs::path& f : io::marked_files(*options.output)) out.push_back({f, "the output"});
    return out;
}

}  // namespace torvel::app
