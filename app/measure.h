// What torvel check shows about the polygons beyond the filter's verdict: per-polygon detail (--details,
// --top), the bend histogram (--histogram) and a picture (--image). The filter alone decides which
// polygons are reported; everything here describes those polygons (torvel_geometry) or draws them
// (torvel_render) with the verdict as given.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "output_file.h"
#include "polygon_mesh.h"
#include "polygon_shape.h"
#include "report.h"

namespace torvel::app {

// What the user asked to see besides the result lines.
struct MeasureRequest {
    bool details = false;
    std::optional<std::size_t> top;  // keep only the N worst details
    bool histogram = false;
    bool image = false;
};

// One object of a checked file as it stands in the scene; its polygons are numbered in the file from
// `first`. Spans are owned by the caller (the host's mesh, the reader's face lines).
struct CheckedObject {
    std::string name;
    MeshView mesh;
    std::uint32_t first = 0;
    std::span<const std::uint32_t> face_lines;  // OBJ: the `f` line of each polygon; empty otherwise
};

// Adds an object after those already in `objects`: its polygons numbered on from theirs, with its share of
// `file_lines` (the `f` line of every polygon of the file, objects in order; empty for other formats).
void add_checked_object(std::vector<CheckedObject>& objects, std::string name, const MeshView& mesh,
                        std::span<const std::uint32_t> file_lines);

struct PolygonDetail {
    std::uint32_t index = 0;  // in the file
    std::string object;
    std::uint32_t vertices = 0;
    std::optional<std::uint32_t> line;  // OBJ only
    std::optional<double> bend;         // degrees; empty when degenerate or a coordinate is not finite
    std::optional<geometry::Degenerate> degenerate;
    std::optional<double> out_of_plane;
};

// What measuring one file gave; only what was requested is filled in.
struct Measures {
    std::vector<PolygonDetail> details;  // worst bend first, then bends that cannot be measured, degenerate last
    std::optional<geometry::BendHistogram> histogram;
    std::vector<unsigned char> image;  // PNG bytes
};

// Measures a checked file whose polygons `reported` (ascending file indices) the filter left selected.
// `path` and `tolerance` go into the picture's caption. Throws geometry::GeometryError or
// std::invalid_argument for arrays that do not hold together (the host built them: not expected).
Measures measure_file(const MeasureRequest& request, std::span<const CheckedObject> objects,
                      std::span<const std::uint32_t> reported, const std::string& path, double tolerance);

// The order of details: worst bend first (ties by index), those without a bend next, degenerate last.
bool worse_detail(const PolygonDetail& a, const PolygonDetail& b);

// "  polygon 6 (mixed, 4 vertices, line 52): bend 63.43°, out of plane 0.4714", one per detail.
std::vector<std::string> detail_lines(std::span<const PolygonDetail> details);
// The histogram as text lines, headed by "TITLE of N polygons of 4 or more vertices:"; with `bars`, a bar
// of block characters after each count.
std::vector<std::string> histogram_lines(const geometry::BendHistogram& histogram, const std::string& title, bool bars);
// Adds `b`'s counts to `a`.
void add_histogram(geometry::BendHistogram& a, const geometry::BendHistogram& b);

// [{"index", "object", "vertices", "line", "bend", "degenerate", "out_of_plane"}]
Json details_json(std::span<const PolygonDetail> details);
// {"polygons", "bands": [{"from", "to", "polygons"}], "degenerate", "reported": [{"tolerance", "polygons"}]}
Json histogram_json(const geometry::BendHistogram& histogram);

// The picture of each entry (empty for an entry with an error): `image` itself for a run of one mesh
// file when it is not a folder, else a file in the folder `image` named after the mesh file
// ("mixed.obj.png"), made unique in input order ("mixed.obj-2.png"); that folder is made when missing.
// Throws UsageError for a single picture whose name does not end in .png, or a run of several files given
// a file that is not a folder, and FileError when the folder cannot be made.
struct MeshInput;
std::vector<std::filesystem::path> image_paths(const std::filesystem::path& image, std::span<const MeshInput> inputs);

// Writes a picture through OutputFile, never over another file of `files`. Throws FileError naming `path`.
void write_image(const std::filesystem::path& path, std::span<const unsigned char> png, const torvel::RunFiles& files);

}  // namespace torvel::app
