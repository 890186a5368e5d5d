// torvel as a library: mesh files and meshes in memory checked and repaired with the poly_torvel_filer
// plug-in's verdict. The torvel program, the Python module and everything built on them go through this
// header and nothing below it, so that one mesh gives one answer everywhere.
//
// The plug-in alone decides which polygons are non-planar: every verdict here is what its filter left
// selected when it was run on an object's polygons (the host's run_filter). What the library adds
// describes polygons (bend, out of plane, degenerate), repairs them (splits, which the filter is then asked
// about again) and shows them (a PNG, a section of the HTML report); none of it is a verdict.
//
// With the value types of the three headers included below (the mesh, the errors and their codes, the
// shape of a polygon), this is the whole of the library's surface.
//
// Threads: a Session may be used from one thread at a time. Sessions on several threads at once are
// safe: the host that runs the plug-in is bound for one call at a time per process, so their calls run
// one after another (a process-wide lock, held for the call). check_files with jobs >= 2 forks worker
// processes; it must not be called while another thread of the process holds a lock a child would need
// (the Python module calls it with the interpreter's lock released and nothing else of torvel running).
//
// Errors: everything thrown is a torvel::Error (errors.h) with a code of the catalogue, except
// std::bad_alloc. A file that cannot be checked is a FileFailure of the run in check_files, and a thrown
// Error in the calls on one file. Bad arrays given to check_mesh and fix_mesh throw Error with
// ErrorCode::usage naming the array and the first bad element. Nothing a caller passes is undefined
// behaviour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "errors.h"           // torvel::Error, ErrorCode, error_id: every failure
#include "polygon_mesh.h"     // torvel::PolygonMesh, MeshView: the one mesh type
#include "polygon_flatten.h"  // geometry::VertexMove: a vertex fix moved
#include "polygon_shape.h"    // geometry::Degenerate, BendHistogram, PolygonShape: what describing gives

namespace torvel {

// The library's (and the program's) version: the project's version as its build names it ("1.0"), what
// `torvel --version` prints.
std::string_view version();

// --- errors ---

// Where an Error is: the file (plug-in, output, object) at fault and its 1-based line, 0 when not known.
struct ErrorPlace {
    std::string path;
    int line = 0;
};
// The place an Error names: FileError::file(), MeshError::file(), HostError::name(), else `about` (the file
// the call was about) unless the error is the plug-in's (TV-E-PLUGIN-LOAD, TV-E-PLUGIN-FILTER: those are
// the plug-in's, not the file's); the line is ScriptError::line() or the LINE of a reader's message of the
// form "PATH:LINE: what is wrong".
ErrorPlace error_place(const Error& error, std::string_view about = {});

// --- the plug-in ---

// The plug-in file to load: `explicit_path` when given (an empty one is a usage Error), else
// $TORVEL_PLUGIN when set and not empty, else poly_torvel_filer.so beside the running program or beside the
// shared object that holds this library (same folder, ../plugin, ../<libdir>, ../lib, and for an installed
// Python package the package's own folder). Never the working folder. Throws Error
// (ErrorCode::plugin_load) listing the places looked at.
std::filesystem::path find_plugin(const std::optional<std::filesystem::path>& explicit_path);

// --- the host's log ---

// One message of the host's log, as the --log file writes it: `severity` is the host's severity number
// (the --log file's "severity"), `text` UTF-8.
struct LogLine {
    int severity = 0;
    std::string text;
};
using LogObserver = std::function<void(const LogLine&)>;

// --- checking ---

// Bounds of one import of a file read through Assimp (a child process).
struct ImportLimits {
    double seconds = 60;          // the whole import
    std::uint64_t megabytes = 0;  // address space the import may add; 0: half of the machine's memory
};

// Describes every polygon of a mesh, for check_mesh's callers: one entry per polygon, in order.
struct MeshDescription {
    std::vector<double> bend;                     // degrees; NaN where it cannot be measured (degenerate, not finite)
    std::vector<double> out_of_plane;             // NaN where empty (see geometry::PolygonShape)
    std::vector<std::int64_t> degenerate_corner;  // -1 when not degenerate
    std::vector<std::string_view> degenerate_cause;  // geometry::cause_text; empty when not degenerate
};
// Throws Error (ErrorCode::usage) when the arrays do not hold together.
MeshDescription describe(const MeshView& mesh);

struct CheckOptions {
    std::optional<double> tolerance;  // degrees, 0 to 90; unset: the settings property's own default (45)
    bool details = false;             // FileReport::details for every reported polygon
    std::optional<std::size_t> top;   // only the N worst details (implies details)
    bool histogram = false;           // FileReport::histogram
    bool image = false;               // FileReport::image
    // FileReport::html: the file's section of the HTML report, numbered N in its page (ids are unique
    // within a page when every section of it has its own N).
    std::optional<std::size_t> html_section;
    bool mesh = false;          // FileReport::mesh: the file's objects joined as read (what `check -o` writes)
    bool describe_all = false;  // FileReport::description, made from the scene's mesh while it is in memory
    ImportLimits import_limits;
};

// One object of a checked file or mesh.
struct ObjectReport {
    std::string name;  // as the scene names it (unique in the file; no '.', no control character)
    std::uint32_t polygons = 0;
    std::vector<std::uint32_t> non_planar;  // ascending, within the object
    std::string source_name;                // as the file names it; empty when it does not (JSON null)
};

// What is known of one reported polygon (CheckOptions::details).
struct PolygonDetail {
    std::uint32_t index = 0;  // in the file
    std::string object;
    std::uint32_t vertices = 0;
    std::optional<std::uint32_t> line;  // OBJ: the polygon's `f` line
    std::optional<double> bend;         // degrees; empty when degenerate or a coordinate is not finite
    std::optional<geometry::Degenerate> degenerate;
    std::optional<double> out_of_plane;  // see geometry::PolygonShape
};

// One checked file (or mesh). Owns everything in it.
struct FileReport {
    std::string path;      // as given; empty for check_mesh
    double tolerance = 0;  // the tolerance the filter read
    std::uint32_t polygons = 0;
    std::vector<std::uint32_t> non_planar;  // ascending; the file's polygons, its objects one after another
    std::vector<ObjectReport> objects;      // in file order, at least one
    std::string precision = "double";       // "double" (torvel's own readers, meshes in memory) or "single"
    std::vector<PolygonDetail> details;     // details/top: worst bend first, unmeasurable next, degenerate last
    std::optional<geometry::BendHistogram> histogram;  // histogram: over all polygons of the file
    std::vector<unsigned char> image;                  // image: the PNG of the file, reported polygons marked
    std::string html;                                  // html_section: the report page's section of this file
    std::vector<std::string> warnings;                 // what the reader passed over ("PATH:LINE: ..."), in file order
    PolygonMesh mesh;                                  // mesh: as read, its objects named as the file names them
    std::optional<MeshDescription> description;        // describe_all: every polygon, its objects one after another
};

// An input of a run that could not be checked (or an output that could not be written).
struct FileFailure {
    std::string path;
    std::string message;  // as torvel prints it after "torvel: "; it names the file
    ErrorCode code = ErrorCode::internal;
};

// One entry of a run of several files: exactly one of report and failure is set.
struct FileOutcome {
    std::optional<FileReport> report;
    std::optional<FileFailure> failure;
    std::vector<LogLine> log;  // what the host logged while the entry was checked, in order
};

// The mesh files named by `inputs`, in order: a folder (also through a link) is searched recursively for
// the files of every format torvel searches for (links to folders not followed), which replace it in sorted
// path order; a folder without one, or one that cannot be read, is an entry with its failure. Anything
// else is taken as given: checking it reports what is wrong.
struct MeshInput {
    std::string path;
    std::optional<FileFailure> failure;
};
std::vector<MeshInput> find_mesh_files(std::span<const std::string> inputs);

// The processors this process may run on (at least 1).
std::size_t available_cores();
// check_files' number of jobs when none is asked for: one per core when more than one entry of `inputs`
// can be checked, never more than those entries; else 1.
std::size_t default_jobs(std::span<const MeshInput> inputs);

struct SessionOptions {
    std::optional<std::filesystem::path> plugin;  // passed to find_plugin
    LogObserver log;                              // every line the host logs, as it is logged; may be empty
    // Told before a step of a file that takes over a second: with no count before a big file is read,
    // with its polygon count before a file of many polygons is checked; the program shows it as a progress
    // line. May be empty.
    std::function<void(const std::string& path, std::optional<std::size_t> polygons)> progress;
    // check_files, when it checks here: told before entry `index` of its inputs is checked. May be empty.
    std::function<void(std::size_t index)> starting;
};

// --- repairing ---

struct FixOptions {
    std::optional<double> tolerance;  // as CheckOptions::tolerance
    // fix_file: where the repaired file is written (never over the input, the plug-in or a file it
    // names); unset: nothing is written (a dry run). Same format as the input: only the split faces are
    // rewritten, every other byte kept; another format: the repaired mesh converted.
    std::optional<std::filesystem::path> output;
    ImportLimits import_limits;
    // Moving vertices instead of splitting: none moves by more than `flatten` (model units; with
    // flatten_share, a share of each reported polygon's diameter, 0.05 for 5%). The filter is asked again
    // about every polygon with a moved corner. What it still reports is split with split_unflattened,
    // else not repaired. Unset: only splitting.
    std::optional<double> flatten;
    bool flatten_share = false;
    bool split_unflattened = false;
};

// A polygon the filter reported that is not repaired, and why ("self-crossing outline", ...).
struct NotRepaired {
    std::uint32_t index = 0;
    std::string reason;
};

// The pieces one reported polygon was split into: torvel::SplitPolygon (polygon_mesh.h).

// A reported polygon the filter no longer reports once its corners were moved.
struct Flattened {
    std::uint32_t index = 0;
    double largest_move = 0;  // of its corners
};

struct FixReport {
    std::string path;  // as given; empty for fix_mesh
    double tolerance = 0;
    std::uint32_t polygons = 0;             // of the input
    std::vector<SplitPolygon> splits;       // ascending polygon order, each of two or more pieces
    std::vector<NotRepaired> not_repaired;  // ascending
    // With options.flatten (`flatten` true): the polygons flattened, ascending, and every vertex moved
    // (ascending vertex; position is where it moved to, distance how far).
    bool flatten = false;
    std::vector<Flattened> flattened;
    std::vector<geometry::VertexMove> moves;
    std::optional<std::filesystem::path> output;  // fix_file: the file written
    bool converted = false;                       // fix_file: written in another format than read
    // fix_mesh: the repaired mesh (the same positions but for the moves; each split polygon replaced in
    // place by its pieces) and, per polygon of it, the input polygon it came from.
    PolygonMesh mesh;
    std::vector<std::uint32_t> source_polygon;
    std::vector<std::string> warnings;
    std::size_t pieces() const;
};

// --- one session ---

// A host of its own that checks and repairs one file or mesh per call, each in a fresh scene with the
// plug-in freshly loaded (as the program does for every file). Not copyable; movable.
class Session {
public:
    // Finds the plug-in (find_plugin); it is loaded per call. Throws Error (ErrorCode::plugin_load).
    explicit Session(SessionOptions options = {});
    ~Session();
    Session(Session&&) noexcept;
    Session& operator=(Session&&) noexcept;

    const std::filesystem::path& plugin() const;

    // The tolerance the plug-in's settings property starts with. Throws Error (plug-in codes).
    double default_tolerance();

    // Reads `path` (its extension picks the reader) and checks each of its objects. Throws Error: the
    // file's (TV-E-NOT-FOUND, TV-E-PARSE, ...), the plug-in's (TV-E-PLUGIN-LOAD, TV-E-PLUGIN-FILTER).
    FileReport check_file(const std::filesystem::path& path, const CheckOptions& options = {});
    // A mesh already in memory, taken by value: its arrays move into the scene (no copy when the caller
    // moves it in). `mesh.objects` as PolygonMesh says (empty: one object named `name`). Throws Error
    // (ErrorCode::usage) for arrays that do not hold together.
    FileReport check_mesh(PolygonMesh mesh, const CheckOptions& options = {}, const std::string& name = "mesh");

    // Reads `path`, splits (or, with options.flatten, flattens) what the filter reports and, with
    // options.output, writes the result there.
    // Throws Error: the file's, the plug-in's, an output refused (TV-E-OUTPUT-REFUSED) or not written.
    FixReport fix_file(const std::filesystem::path& path, const FixOptions& options = {});
    // A mesh in memory, repaired as one object (options.output is not used). Throws Error (ErrorCode::usage)
    // for arrays that do not hold together, and the plug-in's errors.
    FixReport fix_mesh(PolygonMesh mesh, const FixOptions& options = {});

    // What `torvel plugin-info --format json` prints: the library's identity, items, callbacks and its
    // settings property.
    std::string plugin_info_json();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The run of check_files stopped at entry `index`: `failure` says why (the plug-in cannot be loaded, its
// filter failed), `log` is what the host logged for that entry before. Every entry before it was delivered.
class RunStopped : public Error {
public:
    RunStopped(FileFailure failure, std::size_t index, std::vector<LogLine> log)
        : Error(failure.message, failure.code), failure_(std::move(failure)), index_(index), log_(std::move(log)) {}
    const FileFailure& failure() const { return failure_; }
    std::size_t index() const { return index_; }
    const std::vector<LogLine>& log() const { return log_; }

private:
    FileFailure failure_;
    std::size_t index_;
    std::vector<LogLine> log_;
};

// Checks `inputs` (find_mesh_files' entries) and hands every outcome to `deliver` in input order, as soon
// as it and all before it are done. jobs >= 2 and two or more files to check: that many worker processes
// (at most one per file), each with its own host (a worker that dies makes its file a failure,
// TV-E-WORKER-CRASH, and is replaced); the host's log of each entry comes in its FileOutcome::log. Otherwise
// here, in one Session: session.starting is told before each entry, and the host's lines go to session.log
// as they are logged, or, when it is empty, in FileOutcome::log (and RunStopped::log). session.progress is
// told only when the files are checked here. With options.html_section, each file's section is numbered by
// its index in `inputs`. FileReport::mesh and ::description are filled only when the files are checked
// here. Throws Error when the run must stop before any file (the plug-in cannot be found), RunStopped when
// it stops at an entry, and what `deliver` throws.
using Deliver = std::function<void(std::size_t index, FileOutcome&& outcome)>;
void check_files(std::span<const MeshInput> inputs, const CheckOptions& options, const SessionOptions& session,
                 std::size_t jobs, const Deliver& deliver);

// The tolerance a run reports (check_json's, fix_json's): `checked`, the first checked file's, when there is
// one; else `requested`; else the plug-in's settings property's own default, read in a session of its own
// (its log is not observed). NaN when the plug-in cannot be loaded.
double run_tolerance(std::optional<double> checked, std::optional<double> requested,
                     const std::optional<std::filesystem::path>& plugin);

// --- the JSON texts the program prints (compact, one line; keys in documented order) ---

// One entry of "files" of `torvel check --format json`, with "details" when options.details or top and
// "histogram" when options.histogram.
std::string file_json(const FileReport& report, const CheckOptions& options);
// The whole document of `torvel check --format json`: {"tolerance", "files", "errors"} and, with
// options.histogram, the run's "histogram" (the sum of the files').
std::string check_json(double tolerance, std::span<const FileReport> files, std::span<const FileFailure> errors,
                       const CheckOptions& options);
// The document of `torvel fix --format json`; `report` null when the file could not be repaired. With
// report->flatten, each file has "flattened" and "moved_vertices" after "pieces".
std::string fix_json(double tolerance, const FixReport* report, std::span<const FileFailure> errors);

}  // namespace torvel
