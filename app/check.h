// torvel check's parts: the list of mesh files a run checks (folders searched), one file's outcome,
// and the worker processes that check files in parallel.
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "app.h"
#include "log.h"
#include "measure.h"
#include "report.h"

namespace torvel::host {
class Host;
}

namespace torvel::app {

// One entry of a run: a mesh file to check, or a named input that cannot be checked at all.
struct MeshInput {
    std::string path;   // as given, or the given folder joined with the file's path inside it
    std::string error;  // not empty: the message for this entry (a folder with no mesh file in it)
    ErrorCode code = ErrorCode::empty_folder;  // with an error: its code
};

// The mesh files of the command line's MESH arguments, in order. A MESH that is a folder (also through a
// link) is searched recursively for files of every format torvel reads but those searched_in_folders
// passes over (the extension in any case; links to files are taken, links to folders are not
// followed), which replace it in sorted path order; other files are skipped. A folder without any mesh
// file, or one that cannot be read, becomes an entry with an error naming it. Anything else is taken as
// given: reading it reports what is wrong.
std::vector<MeshInput> expand_meshes(std::span<const std::string> meshes);

// What checking one entry gave.
struct FileOutcome {
    enum class Kind { checked, error, fatal };
    Kind kind = Kind::error;
    FileResult result;                     // checked
    double tolerance = 0;                  // checked: the tolerance the filter read
    std::string message;                   // error, fatal: as on stderr, without "torvel: "
    ErrorCode code = ErrorCode::internal;  // error, fatal: the message's code
    std::vector<host::LogEntry> log;       // from a worker: the host log of this file, in order
    Measures measures;                     // checked: what --details, --histogram and --image asked for
};

// Checks one mesh file in `host` (bound to the SDK by the caller) and returns checked or error; a
// problem that stops the whole run (the plug-in) is thrown. Its host log goes to host.log().
using CheckOne = std::function<FileOutcome(host::Host& host, const MeshInput& input)>;
// Receives each entry's outcome, in input order; may throw to stop the run.
using Deliver = std::function<void(std::size_t index, FileOutcome&& outcome)>;

// Checks `inputs` with `jobs` (>= 2) worker processes and hands every outcome to `deliver` in input
// order, entries with an error without a worker. Each worker is a forked child that owns a fresh host
// (bound to the SDK there) and runs `check` for one file at a time; it sends each file's log and outcome
// back, as soon as the file is done, over a socket in a small framed format that this process validates.
// A worker that dies (a signal, out of memory) or sends anything malformed makes its file an error
// ("PATH: the check crashed (segmentation fault)") and is replaced; a fatal outcome reaches `deliver`
// like the others. At most 3 * jobs files are in work, queued on a worker or waiting to be delivered at a time. Every
// worker is gone when this returns or throws. The caller's own host must not be bound to the SDK (the children bind
// theirs).
void check_in_workers(std::span<const MeshInput> inputs, std::size_t jobs, const CheckOne& check,
                      const Deliver& deliver);

// The processors this process may run on (at least 1): the default number of workers.
std::size_t available_cores();

}  // namespace torvel::app
