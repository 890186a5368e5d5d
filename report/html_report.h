// The interactive report of a check as one self-contained HTML page (`torvel check --html`): per file its
// counts, tolerance and precision, the bend histogram as a chart, the reported polygons worst first with
// their details, and a WebGL view (three.js, inlined) of the mesh in which polygons are shown in the state
// the caller gives them.
//
// Nothing here judges a polygon: states, details and the histogram come from the caller. Texts from files
// (paths, object names, messages) are shown as text, never read as markup or script. The page needs no
// network and no server.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "polygon_mesh.h"

namespace torvel::report {

enum class PolygonState : std::uint8_t { planar, reported, degenerate };

// One object of a file: its mesh (the caller's arrays, read during add() only), polygon i drawn as
// states[i]. Its polygons are numbered in the file after those of the objects before it. Empty offsets,
// or {0}, is an object without polygons.
struct Object {
    std::string name;
    torvel::MeshView mesh;
    std::vector<PolygonState> states;  // one per polygon
};

struct Degenerate {
    std::uint32_t corner = 0;  // within the polygon
    std::string cause;         // "zero-length edge", "collinear"
};

// What is known of one reported polygon. Empty values are unknown or do not apply.
struct Detail {
    std::uint32_t index = 0;   // the polygon's index in the file
    std::uint32_t object = 0;  // into FileReport::objects
    std::uint32_t vertices = 0;
    std::optional<std::uint64_t> line;  // where the file defines it (OBJ)
    std::optional<double> bend;         // degrees
    std::optional<Degenerate> degenerate;
    std::optional<double> out_of_plane;
};

// Polygons of 4+ corners by bend; see geometry::BendHistogram.
struct Histogram {
    static constexpr std::array<double, 8> kEdges{0, 1, 2, 5, 10, 20, 45, 90};
    std::array<std::uint64_t, 7> bands{};
    std::uint64_t degenerate = 0;
    std::array<std::uint64_t, 8> reported{};  // reported at a tolerance of each edge
};

struct FileReport {
    std::string path;
    double tolerance = 45;
    std::string precision = "double";  // of the file's coordinates: "double" or "single"
    std::uint64_t polygons = 0;
    std::vector<std::uint32_t> non_planar;  // ascending
    std::vector<Object> objects;
    std::vector<Detail> details;  // shown in this order: the caller puts the worst first
    std::optional<Histogram> histogram;
};

// Writes the page piece by piece to `sink`, so that a report of many large files never has to be held
// whole: the head (styles, three.js, the page's script) at construction, one section per add(), the end at
// finish(). Throws std::invalid_argument, naming the file and object, when an object's arrays disagree
// (an index past its vertices, states not one per polygon); nothing of that file is written then.
class HtmlReport {
public:
    using Sink = std::function<void(std::string_view)>;
    explicit HtmlReport(Sink sink);
    void add(const FileReport& file);
    // A section file_section made (numbered `number`, unique in the page), for `path` with `reported`
    // polygons reported: written as add() writes it.
    void add_section(std::string_view section, std::string_view path, std::size_t reported, std::size_t number);
    // An input that could not be checked, listed with its message.
    void add_error(std::string_view path, std::string_view message);
    void finish();

private:
    Sink sink_;
    std::size_t files_ = 0;
    std::string nav_;  // the list of files and errors, written by finish()
};

// The page's section of one file, its ids numbered `number`. Throws as HtmlReport::add.
std::string file_section(const FileReport& file, std::size_t number);

// The whole page at once.
std::string html_report(std::span<const FileReport> files);

// Text for HTML markup: & < > " ' escaped.
std::string escape_html(std::string_view text);

}  // namespace torvel::report
