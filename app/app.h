// torvel, the host program: what the subcommands share. main.cpp parses the command line and maps
// the exceptions below to exit codes; every other file reports failure by throwing one of them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "errors.h"
#include "files.h"
#include "importer.h"
#include "output_file.h"
#include "text.h"
#include "torvel/torvel.h"

namespace torvel::host {
class Log;
}

namespace torvel::app {

namespace fs = std::filesystem;

// Exit codes of every subcommand.
inline constexpr int kExitClean = 0;      // check: no file has a non-planar polygon
inline constexpr int kExitNonPlanar = 1;  // check: some file has; fix: some polygon was not repaired
inline constexpr int kExitError = 2;      // usage, input or plug-in error

using torvel::FileError;
using torvel::RunFile;
using torvel::RunFiles;
using torvel::UsageError;

using torvel::FileFailure;
using torvel::FileReport;
using torvel::MeshInput;
using torvel::ObjectReport;
using torvel::PolygonDetail;

// The plug-in to load (torvel::find_plugin) for a --plugin option.
fs::path find_plugin(const std::optional<std::string>& explicit_path);

// --- the host log (log_sink.cpp) ---

// Where the host's log goes while a subcommand runs. Construct before anything is logged; finish()
// once at the end, also after a failure, so the log of a failed run is kept.
class LogSink {
public:
    struct Options {
        std::optional<fs::path> file;  // --log: JSON Lines, written by finish()
        bool verbose = false;          // -v: echo each message to stderr as it is logged
        bool to_stdout = false;        // echo each message to stdout (script without --log / -v)
    };
    // Throws UsageError when the log file cannot be a file (a directory, a missing directory). The log
    // file is registered in `files` as the log (`files` must outlive this sink): construct the sink once
    // the outputs that come before the log are registered, so that a clash refuses the log.
    LogSink(host::Log& log, Options options, RunFiles& files);
    ~LogSink();
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    // Writes the log file through OutputFile, never over another file of the run. Throws FileError
    // naming the file ("--log FILE: ..."). Writes nothing when RunFiles::refuse_clashes() refused the log.
    void finish();
    // finish() for the way out of a failed run: a failure to write is reported on stderr, not thrown.
    void finish_after_error() noexcept;

private:
    host::Log& log_;
    Options options_;
    RunFiles& files_;
};

// Outputs are compared with inputs, and with each other, as files (links count): torvel::same_file.
using torvel::same_file;

// --- text helpers (report.cpp) ---

// Shortest decimal text that reads back as the same double: 45, 12.5, 0.1.
std::string format_number(double value);
// Ascending indices with runs of two or more written as FIRST-LAST: {2, 4, 5, 6} -> "2, 4-6".
std::string format_ranges(std::span<const std::uint32_t> sorted, const char* separator = ", ");

// --- what check prints of the measures, and its pictures (measure_text.cpp) ---

// "  polygon 6 (mixed, 4 vertices, line 52): bend 63.43°, out of plane 0.4714", one per detail.
std::vector<std::string> detail_lines(std::span<const PolygonDetail> details);
// The histogram as text lines, headed by "TITLE of N polygons of 4 or more vertices:"; with `bars`, a bar
// of block characters after each count.
std::vector<std::string> histogram_lines(const geometry::BendHistogram& histogram, const std::string& title, bool bars);

// The picture of each entry (empty for an entry with a failure): `image` itself for a run of one mesh
// file when it is not a folder, else a file in the folder `image` named after the mesh file
// ("mixed.obj.png"), made unique in input order ("mixed.obj-2.png"); that folder is made when missing.
// Throws UsageError for a single picture whose name does not end in .png, or a run of several files given
// a file that is not a folder, and FileError when the folder cannot be made.
std::vector<fs::path> image_paths(const fs::path& image, std::span<const MeshInput> inputs);
// Writes a picture through OutputFile, never over another file of `files`. Throws FileError naming `path`.
void write_image(const fs::path& path, std::span<const unsigned char> png, const RunFiles& files);

// --- what fix and RepairMesh print (report.cpp) ---

// "N polygons split into M pieces, K not repaired at T°".
std::string repair_summary(std::span<const torvel::SplitPolygon> splits, std::size_t not_repaired, double tolerance);
// "N polygons flattened, V vertices moved, none by more than D"; empty when none was.
std::string flattened_summary(std::span<const torvel::Flattened> flattened,
                              std::span<const geometry::VertexMove> moves);
// "N of the splits are not proven the fewest pieces (the search's budget was reached)"; empty when every
// split is.
std::string not_fewest_summary(std::span<const torvel::SplitPolygon> splits);

// --- what the subcommands share (shared.cpp) ---

// Why torvel cannot write `out` ("torvel cannot write '.stl' files (it writes .obj, .ply and .off)"), or
// nothing when its extension names a format torvel writes.
std::optional<std::string> unwritable_format(const fs::path& out);
// Throws UsageError for an -o OUT whose extension names no format torvel writes.
void refuse_unwritable_format(const fs::path& out);

// --- subcommands ---

// torvel --version: the program's version, then the name and version of the plug-in found as for check
// (loaded and shut down again). Exit 2, after the program's version, when the plug-in cannot be loaded.
int run_version();

struct CheckOptions {
    std::vector<std::string> meshes;  // files and folders
    std::optional<double> tolerance;  // degrees, already checked to be within 0..90
    bool json = false;
    bool quiet = false;               // -q: nothing on stdout
    bool list_non_planar = false;     // -l: only the paths of files with a non-planar polygon
    std::optional<std::size_t> jobs;  // -j, at least 1; unset: one per core for more than one file
    std::optional<fs::path> output;   // -o, only with one mesh file
    bool details = false;             // --details: a line (or JSON entry) per reported polygon
    std::optional<std::size_t> top;   // --top N: only the N worst details (implies details)
    bool histogram = false;           // --histogram: bend bands per file and for the whole run
    std::optional<fs::path> image;    // --image: a PNG file (one mesh file) or a folder of them
    std::optional<fs::path> html;     // --html: the interactive report (html_output.h)
    std::optional<std::string> plugin;
    LogSink::Options log;
    importer::Limits import_limits;  // --import-timeout, --import-memory: each Assimp import
};
int run_check(const CheckOptions& options);

struct FixOptions {
    std::string mesh;
    std::optional<double> tolerance;  // degrees, already checked to be within 0..90
    std::optional<fs::path> output;   // -o; required unless dry_run
    bool dry_run = false;             // report only, write nothing
    bool json = false;
    std::optional<std::string> plugin;
    LogSink::Options log;
    importer::Limits import_limits;  // a MESH Assimp reads
    // --flatten MAX (MAX% a share of each polygon's diameter): the most a vertex may move; with it the
    // strategy is flatten unless --strategy says auto (split what cannot be flattened).
    std::optional<double> flatten;
    bool flatten_share = false;
    bool split_unflattened = false;
};
// torvel fix: exit 0 when every reported polygon was repaired, 1 when some were not, 2 on errors.
int run_fix(const FixOptions& options);

struct ScriptOptions {
    std::optional<std::string> file;  // a path, or "-" for standard input
    std::vector<std::string> lines;   // -c
    std::optional<std::string> plugin;
    LogSink::Options log;
    importer::Limits import_limits;  // each ImportMesh of a file Assimp reads
};
int run_script_command(const ScriptOptions& options);

struct PluginInfoOptions {
    std::optional<std::string> plugin;
    bool json = false;
    LogSink::Options log;
};
int run_plugin_info(const PluginInfoOptions& options);

}  // namespace torvel::app
