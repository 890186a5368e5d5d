// libtorvel: the whole job of torvel behind one header. The torvel program, the Python module and the
// Blender add-on call this and nothing below it, so the same file gives the same answer everywhere.
//
// The verdict is the plug-in's. Every polygon reported as non-planar is one the plug-in's filter left
// selected when a host ran it through its Subset callback; nothing here judges a polygon. What is
// described (bend, out of plane, degenerate corners) or done (splits) is told as such.
//
// Threads: a Session owns one in-process host, and the SDK binds one host per process at a time, so a
// process has at most one Session doing work at any moment: calls on one Session, and calls on different
// Sessions, must not overlap (the Python module serialises them). Nothing here starts threads the caller
// sees; a large file is read on several threads inside a call, and check_files may fork worker
// processes (see there).
//
// Errors: every failure is a torvel::Error (errors.h) whose code() has a stable identifier in the error
// catalogue (error_id: "TV-E-PARSE") and whose what() is the message torvel prints after "torvel: ", naming the file, the line
// or the name at fault ("bad.obj:3: bad x coordinate 'x'"). Bad input never ends the process.
//
// Ownership: every result is a value the caller owns. MeshView arguments are read during the call only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "errors.h"         // torvel::Error, ErrorCode and the catalogue of codes (kErrors)
#include "polygon_mesh.h"   // torvel::PolygonMesh, torvel::MeshView
#include "polygon_shape.h"  // torvel::geometry::PolygonShape, Degenerate, BendHistogram

namespace torvel {

namespace host {
class Host;
}

// "1.0": the program's and the library's version.
std::string_view version();

// What an error names besides its message and code: the file (or option, or name) at fault and, for
// line-based text, the line. Empty where the error names none.
struct ErrorPlace {
    std::string path;
    std::optional<std::uint64_t> line;
};
ErrorPlace error_place(const Error& error);

// Bounds on each import of a file Assimp reads (in a child process).
struct ImportLimits {
    double seconds = 60;          // the whole import
    std::uint64_t megabytes = 0;  // address space it may add; 0: half the machine's memory
};

// One line of the host's log: what the plug-in, the readers and the library logged, in order.
struct LogLine {
    int severity = 0;  // the host's severities: 1 error, 2 warning, 4 information, 8 verbose...
    std::string text;  // UTF-8
};

struct CheckOptions {
    std::optional<double> tolerance;  // degrees, 0 to 90; empty: the settings property's own default (45)
    bool details = false;             // FileReport::details for every reported polygon
    std::optional<std::size_t> top;   // only the N worst details (implies details)
    bool histogram = false;           // FileReport::histogram
    bool image = false;               // FileReport::image, the PNG sheet
    bool page = false;                // FileReport::page, the file's section of the HTML report
    ImportLimits import;
};

struct ObjectResult {
    std::string name;  // as the scene names it (unique within the file)
    std::uint32_t polygons = 0;
    std::vector<std::uint32_t> non_planar;  // ascending, within the object
};

// What is described of one reported polygon (never part of the verdict).
struct PolygonDetail {
    std::uint32_t index = 0;  // in the file
    std::string object;
    std::uint32_t vertices = 0;
    std::optional<std::uint32_t> line;  // OBJ: the polygon's `f` line
    std::optional<double> bend;         // degrees; empty when degenerate or a coordinate is not finite
    std::optional<geometry::Degenerate> degenerate;
    std::optional<double> out_of_plane;
};

struct FileReport {
    std::string path;                       // as given
    double tolerance = 0;                   // the tolerance the filter read
    std::string precision = "double";       // "double" (torvel's own readers) or "single" (Assimp)
    std::uint32_t polygons = 0;             // of all objects
    std::vector<std::uint32_t> non_planar;  // ascending file indices: the objects one after another
    std::vector<ObjectResult> objects;      // in file order
    std::vector<std::uint32_t> face_lines;  // OBJ: the `f` line of each polygon; empty otherwise
    // Filled only when asked (CheckOptions):
    std::vector<PolygonDetail> details;  // worst bend first, then those without a bend, degenerate last
    std::optional<geometry::BendHistogram> histogram;
    std::vector<unsigned char> image;  // PNG bytes
    std::string page;                  // HTML: the file's section of the report page (report/html_report.h)
};

// One entry of a run of many files: its report, or the error that kept it from being checked.
struct FileOutcome {
    std::string path;
    std::optional<FileReport> report;
    std::optional<Error> error;
    std::vector<LogLine> log;  // this file's part of the host log, in order (from a worker)
};

// What `torvel fix` does to one polygon: piece k is corners[offsets[k] .. offsets[k+1]), corner numbers
// of the polygon (0 is its first corner as the file lists it), in the order the piece goes round.
struct PolygonSplit {
    std::uint32_t polygon = 0;
    std::vector<std::uint32_t> offsets{0};
    std::vector<std::uint32_t> corners;
    std::size_t piece_count() const { return offsets.size() - 1; }
};

struct NotRepaired {
    std::uint32_t index = 0;
    std::string reason;
};

struct FixOptions {
    std::optional<double> tolerance;  // as CheckOptions
    std::optional<std::filesystem::path> output;  // fix_file: where to write; empty: report only (dry run)
    ImportLimits import;
};

struct FixReport {
    std::string path;
    double tolerance = 0;
    std::uint32_t polygons = 0;
    std::vector<PolygonSplit> splits;       // ascending polygon order, each of two or more pieces
    std::vector<NotRepaired> not_repaired;  // ascending
    std::optional<std::filesystem::path> output;  // written
    bool converted = false;                       // written in another format than the input's
    std::size_t pieces() const;
};

// A mesh in memory repaired: the input's vertices unchanged, each split polygon replaced in place by its
// pieces. source_face[i] is the input polygon output polygon i comes from.
struct FixedMesh {
    PolygonMesh mesh;
    std::vector<std::uint32_t> source_face;
    std::vector<PolygonSplit> splits;
    std::vector<NotRepaired> not_repaired;
};

// A host with the plug-in, for one caller at a time (see Threads above).
class Session {
public:
    struct Options {
        // The plug-in library: when empty, $TORVEL_PLUGIN when set and not empty, else the one installed
        // beside the program or the module (see find_plugin).
        std::optional<std::filesystem::path> plugin;
        // Called for every log line as it is logged (the program's -v); may be empty.
        std::function<void(const LogLine&)> on_log;
    };
    // Throws Error (TV-E-PLUGIN-LOAD) when no plug-in is found; the plug-in itself is loaded afresh for each
    // file, as a user opens a scene.
    explicit Session(Options options);
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::filesystem::path& plugin() const;

    // Reads the mesh file (its format by extension, in any case), puts its objects in a fresh scene with
    // the plug-in loaded, runs the filter on each object with all its polygons selected, and describes or
    // draws what `options` asks for. Throws Error for a file that cannot be read or checked.
    FileReport check_file(const std::filesystem::path& path, const CheckOptions& options = {});
    // The same for a mesh in memory; `objects` as PolygonMesh::objects (empty: one object named "mesh").
    // The arrays are copied once, into the scene. Throws Error (TV-E-MESH) naming the first bad element.
    FileReport check_mesh(const MeshView& mesh, std::span<const PolygonMesh::Object> objects,
                          const CheckOptions& options = {});

    // Splits the polygons the filter reports into pieces it does not report, asks it again about the
    // pieces, and writes options.output (lossless in the input's format, else converted). Throws Error.
    FixReport fix_file(const std::filesystem::path& path, const FixOptions& options = {});
    FixedMesh fix_mesh(const MeshView& mesh, const FixOptions& options = {});

    // The host log of everything this session did, in order.
    const std::vector<LogLine>& log() const;

    // The host itself, for the program's own commands (torvel script). Not for other callers.
    host::Host& host();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Every polygon of `mesh` described (bend, degenerate corner, out of plane), in polygon order. Throws
// Error (TV-E-MESH) for arrays that do not hold together.
std::vector<geometry::PolygonShape> describe(const MeshView& mesh);

// The mesh files of `inputs` (files and folders; a folder is searched recursively for every format
// torvel reads), each checked in a fresh scene, `jobs` at a time in worker processes (1: here, in this
// process), and handed to `deliver` in input order as soon as it and those before it are done. A worker
// is a forked child with its own host; one that dies makes its file an error (TV-E-WORKER-CRASH) and is
// replaced. Throws Error for what stops the whole run (the plug-in), after the files before it.
void check_files(std::span<const std::string> inputs, const CheckOptions& options, std::size_t jobs,
                 Session& session, const std::function<void(FileOutcome&&)>& deliver);

// JSON texts of torvel check --format json and torvel fix --format json (compact, one line):
// check_json's entry is one element of "files"; check_document_json the whole document.
std::string check_json(const FileReport& report);
std::string check_document_json(double tolerance, std::span<const FileOutcome> outcomes);
std::string fix_json(const FixReport& report);

// The plug-in library's identity, items and callbacks (torvel plugin-info --format json).
std::string plugin_info_json(const std::optional<std::filesystem::path>& plugin = std::nullopt);

// The plug-in to load: `explicit_path`, else $TORVEL_PLUGIN when set and not empty, else
// poly_torvel_filer.so beside the running program (same folder, ../plugin, ../lib) or the module. Never the
// working directory. Throws Error (TV-E-PLUGIN-LOAD) listing the places looked at.
std::filesystem::path find_plugin(const std::optional<std::filesystem::path>& explicit_path = std::nullopt);

}  // namespace torvel
