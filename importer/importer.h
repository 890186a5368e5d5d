// Meshes from every format the installed Assimp imports, except OBJ, PLY and OFF (torvel's own readers,
// host/io). Each import runs Assimp in a child process, so that a crash, a hang or runaway memory in one
// of its importers ends as an ImportError for that file and never takes the caller down.
//
// Called by torvel from its single thread: import_file forks, and a fork copies only the calling thread.
// The caller must not ignore SIGCHLD (SIG_IGN reaps children behind import_file's back).
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "polygon_mesh.h"
#include "errors.h"

namespace torvel::importer {

using torvel::PolygonMesh;

// One importer of the installed Assimp, as it describes itself.
struct Format {
    std::vector<std::string> extensions;  // lower case, without the leading dot ("dae", "zae", "mesh.xml")
    std::string description;              // Assimp's name for it ("Collada Importer")
};

// Every format of the installed Assimp in Assimp's own order, obj/ply/off left out. Built on first use,
// the same for the life of the process.
const std::vector<Format>& formats();

// Whether the file name ends in one of formats()' extensions, in any case ("A.DAE", "b.mesh.xml").
bool handles(const std::filesystem::path& path);

// Half the machine's physical memory, in MB (at least 256).
std::uint64_t default_megabytes();

struct Limits {
    double seconds = 60;                            // the whole import, from fork to the result
    std::uint64_t megabytes = default_megabytes();  // address space the import may add to the process's
};

// What an import gives. mesh.objects: one per Assimp mesh with polygons, by mesh index (file order), each
// a name unique within the result and never empty, its polygons from `first` to the next one's and its
// vertices a range of their own, after those of the objects before it (the object's indices point into
// that range only); empty: the file holds no polygons. Positions are Assimp's floats, widened exactly;
// every polygon has 3 or more corners. mesh.warnings, for the caller's log: "PATH: skipped 3 lines and 2
// points", "PATH: the file holds no polygons". mesh.face_lines is empty.
struct ImportResult {
    PolygonMesh mesh;
    std::uint64_t skipped_points = 0;  // faces of one index, left out
    std::uint64_t skipped_lines = 0;   // faces of two indices, left out
};

// Every failure of import_file. The message starts with the file's path: "PATH: what went wrong"; the
// code tells a crash, a hang and runaway memory from what Assimp refused (ErrorCode::import_failed).
class ImportError : public Error {
public:
    explicit ImportError(const std::string& message, ErrorCode code = ErrorCode::import_failed)
        : Error(message, code) {}
};

// Reads the file with the Assimp importer its extension names (whatever the content holds, so a file
// that is not what its extension says gets that format's error). Faces come in Assimp's order and
// positions are the mesh's own: no post-processing, no node transform. Assimp reads in single precision.
//
// Throws ImportError for a file that is missing, a directory, empty or of no format in formats(); for
// one Assimp refuses (its own message); for bad data in what Assimp built (an index past the mesh's
// vertices, a coordinate that is not finite); and when the child process crashes, outlives
// limits.seconds or needs more than limits.megabytes. Limits that are not positive are a caller's
// mistake: std::invalid_argument.
ImportResult import_file(const std::filesystem::path& path, const Limits& limits = {});

}  // namespace torvel::importer
