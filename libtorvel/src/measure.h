// What a check shows about the polygons beyond the filter's verdict: per-polygon detail, the bend
// histogram, a picture and the report page's section. The filter alone decides which polygons are
// reported; everything here describes those polygons (torvel_geometry), draws them (torvel_render) or lays
// them out for the page (torvel_html_report) with the verdict as given.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "torvel/torvel.h"

namespace torvel {

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

// Fills in what `options` asks for beyond the verdict (details, histogram, image, html) in `report`, whose
// path, tolerance, precision, polygons, non_planar and objects are set. Throws geometry::GeometryError or
// std::invalid_argument for arrays that do not hold together (the host built them: not expected).
void measure_file(const CheckOptions& options, std::span<const CheckedObject> objects, FileReport& report);

// The order of details: worst bend first (ties by index), those without a bend next, degenerate last.
bool worse_detail(const PolygonDetail& a, const PolygonDetail& b);

}  // namespace torvel
