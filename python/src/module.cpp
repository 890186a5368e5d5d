// torvel._torvel: libtorvel for Python. The package's __init__ re-exports it; the JSON documents are the
// library's own texts (file_json, check_json, fix_json) parsed by Python's json, so a dict here is what
// `torvel ... --format json` prints, key for key.
#include <cmath>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <torvel/torvel.h>

#include "arrays.h"

namespace py = pybind11;
using namespace py::literals;

namespace torvel::python {

namespace {

// check_files with jobs >= 2 forks: no other call of this module may be inside the library then (a
// child would inherit its locks held). Every call holds this shared, such a run holds it alone. Taken
// only with the GIL released, so that a thread waiting for it never blocks the interpreter.
std::shared_mutex fork_guard;

// A library Error caught with the GIL released, raised again as a torvel.Error once it is held.
struct Failure {
    std::string code;
    std::string message;
    ErrorPlace place;
};

[[noreturn]] void raise(const Failure& f) {
    const py::object error =
        py::module_::import("torvel._errors")
            .attr("from_library")(f.code, py::bytes(f.message).attr("decode")("utf-8", "replace"),
                                  f.place.path.empty() ? py::object(py::none()) : py::object(py::str(f.place.path)),
                                  f.place.line ? py::object(py::int_(f.place.line)) : py::object(py::none()));
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw py::error_already_set();
}

[[noreturn]] void raise_usage(const std::string& message) {
    raise({std::string(error_id(ErrorCode::usage)), message, {}});
}

// Runs `work` with the GIL released and the fork guard held; a torvel::Error it throws comes out as the
// torvel.Error of its code, `path` (the file the call was about) when the error names none.
template <class F>
auto released(const std::string& path, F&& work, bool alone = false) -> decltype(work()) {
    std::optional<Failure> failure;
    {
        py::gil_scoped_release unlocked;
        std::shared_lock shared(fork_guard, std::defer_lock);
        std::unique_lock exclusive(fork_guard, std::defer_lock);
        alone ? exclusive.lock() : shared.lock();
        try {
            return work();
        } catch (const Error& e) {
            failure = Failure{std::string(error_id(e.code())), e.what(), error_place(e, path)};
        }
    }
    raise(*failure);
}

// A path as the file system has it: str, bytes or os.PathLike.
std::string fs_path(py::handle value) {
    return py::module_::import("os").attr("fsencode")(value).cast<std::string>();
}

py::object parse_json(const std::string& text) {
    return py::module_::import("json").attr("loads")(py::bytes(text).attr("decode")("utf-8", "surrogateescape"));
}

std::optional<double> checked_tolerance(std::optional<double> tolerance) {
    if (!tolerance) return tolerance;
    if (!(*tolerance >= 0 && *tolerance <= 90))
        raise_usage("tolerance: " + py::repr(py::float_(*tolerance)).cast<std::string>() +
                    " is outside the range 0 to 90 degrees");
    return *tolerance == 0 ? 0.0 : *tolerance;  // -0 is 0, as for -t
}

SessionOptions session_options(const py::object& plugin) {
    SessionOptions options;
    if (!plugin.is_none()) options.plugin = std::filesystem::path(fs_path(plugin));
    return options;
}

template <class F>
auto array_checked(F&& convert) -> decltype(convert()) {
    try {
        return convert();
    } catch (const ArrayError& e) {
        raise_usage(e.what());
    }
}

// --- check ---

py::object check(const py::object& path, std::optional<double> tolerance, bool details, const py::object& plugin) {
    const std::string file = fs_path(path);
    CheckOptions options;
    options.tolerance = checked_tolerance(tolerance);
    options.details = details;
    const SessionOptions session = session_options(plugin);
    const std::string text = released(file, [&] {
        Session s(session);
        return file_json(s.check_file(file, options), options);
    });
    return parse_json(text);
}

std::vector<std::string> path_list(const py::object& paths) {
    const py::object os = py::module_::import("os");
    std::vector<std::string> out;
    if (py::isinstance<py::str>(paths) || py::isinstance<py::bytes>(paths) || py::hasattr(paths, "__fspath__"))
        out.push_back(fs_path(paths));
    else
        for (const py::handle p : paths) out.push_back(fs_path(p));
    return out;
}

py::object check_files(const py::object& paths, std::optional<double> tolerance, std::optional<long long> jobs,
                       bool details, const py::object& plugin) {
    const std::vector<std::string> given = path_list(paths);
    if (jobs && (*jobs < 1 || *jobs > 1024))
        raise_usage("jobs: " + std::to_string(*jobs) + " is outside the range 1 to 1024");
    CheckOptions options;
    options.tolerance = checked_tolerance(tolerance);
    options.details = details;
    const SessionOptions session = session_options(plugin);

    std::vector<MeshInput> inputs;
    std::size_t workers = 1;
    {
        py::gil_scoped_release unlocked;
        inputs = find_mesh_files(given);
        workers = jobs ? static_cast<std::size_t>(*jobs) : default_jobs(inputs);
    }
    const std::string text = released(
        {},
        [&] {
            std::vector<FileReport> files;
            std::vector<FileFailure> errors;
            torvel::check_files(inputs, options, session, workers, [&](std::size_t, FileOutcome&& out) {
                if (out.report) files.push_back(std::move(*out.report));
                if (out.failure) errors.push_back(std::move(*out.failure));
            });
            const std::optional<double> checked = files.empty() ? std::nullopt : std::optional(files.front().tolerance);
            double run = run_tolerance(checked, options.tolerance, session.plugin);
            // NaN: the plug-in cannot be loaded, which the program prints as null and a call raises (its
            // PluginError, which reading the property again throws).
            if (std::isnan(run)) run = Session(session).default_tolerance();
            return check_json(run, files, errors, options);
        },
        workers >= 2);
    return parse_json(text);
}

// --- meshes in memory ---

struct ObjectResult {
    std::string name;
    py::object source_name;
    std::uint32_t first_face = 0;
    std::uint32_t polygons = 0;
    py::array_t<std::int64_t> non_planar;
};

struct CheckResult {
    double tolerance = 0;
    std::uint32_t polygons = 0;
    py::array_t<std::int64_t> non_planar;
    std::vector<ObjectResult> objects;
    // Made from the scene's mesh during the check: the caller's arrays are not read again.
    std::optional<MeshDescription> description;
};

CheckResult check_mesh(const py::object& positions, const py::object& face_sizes, const py::object& face_indices,
                       std::optional<double> tolerance, const py::object& objects, bool describe) {
    CheckOptions options;
    options.tolerance = checked_tolerance(tolerance);
    options.describe_all = describe;
    PolygonMesh mesh = array_checked([&] { return mesh_from_arrays(positions, face_sizes, face_indices); });
    const bool named = !objects.is_none();
    if (named)
        for (const ObjectRange& o : array_checked([&] { return objects_from(objects, static_cast<std::uint32_t>(mesh.polygon_count())); }))
            mesh.objects.push_back({o.name, o.first, 0});
    FileReport report = released({}, [&] { return Session(SessionOptions{}).check_mesh(std::move(mesh), options); });

    CheckResult result;
    result.tolerance = report.tolerance;
    result.polygons = report.polygons;
    result.non_planar = int64_array(std::span<const std::uint32_t>(report.non_planar));
    if (named) {
        std::uint32_t first = 0;
        for (const ObjectReport& o : report.objects) {
            py::object source = o.source_name.empty() ? py::object(py::none()) : py::object(py::str(o.source_name));
            result.objects.push_back({o.name, source, first, o.polygons,
                                      int64_array(std::span<const std::uint32_t>(o.non_planar))});
            first += o.polygons;
        }
    }
    result.description = std::move(report.description);
    return result;
}

py::dict describe(const CheckResult& result) {
    if (!result.description)
        raise_usage("describe(): the mesh was checked with describe=False, which keeps no description");
    const MeshDescription& d = *result.description;
    // The causes as codes into the few texts there are, turned into a string array by numpy at once.
    std::vector<std::string_view> texts{""};
    py::array_t<std::int32_t> codes(static_cast<py::ssize_t>(d.degenerate_cause.size()));
    std::int32_t* code = codes.mutable_data();
    for (const std::string_view cause : d.degenerate_cause) {
        std::size_t k = 0;
        while (k < texts.size() && texts[k] != cause) ++k;
        if (k == texts.size()) texts.push_back(cause);
        *code++ = static_cast<std::int32_t>(k);
    }
    py::list names;
    for (const std::string_view t : texts) names.append(py::str(t.data(), t.size()));
    const py::object numpy = py::module_::import("numpy");
    return py::dict("bend"_a = py::array_t<double>(static_cast<py::ssize_t>(d.bend.size()), d.bend.data()),
                    "out_of_plane"_a =
                        py::array_t<double>(static_cast<py::ssize_t>(d.out_of_plane.size()), d.out_of_plane.data()),
                    "degenerate_corner"_a = py::array_t<std::int64_t>(
                        static_cast<py::ssize_t>(d.degenerate_corner.size()), d.degenerate_corner.data()),
                    "degenerate_cause"_a = py::object(numpy.attr("asarray")(names, "dtype"_a = "str")[codes]));
}

// --- repairing ---

py::object fix(const py::object& path, const py::object& out, std::optional<double> tolerance, bool dry_run,
               const py::object& plugin) {
    const std::string file = fs_path(path);
    FixOptions options;
    options.tolerance = checked_tolerance(tolerance);
    if (!dry_run && out.is_none()) raise_usage("out: a file to write is needed (or dry_run=True)");
    if (!dry_run) options.output = std::filesystem::path(fs_path(out));
    const SessionOptions session = session_options(plugin);
    const std::string text = released(file, [&] {
        Session s(session);
        const FixReport report = s.fix_file(file, options);
        return fix_json(report.tolerance, &report, {});
    });
    return parse_json(text);
}

struct FixResult {
    double tolerance = 0;
    std::uint32_t polygons = 0;
    py::array_t<std::int64_t> face_sizes, face_indices, source_face, split;
    std::vector<std::pair<std::uint32_t, std::string>> not_repaired;
    std::size_t pieces = 0;
};

FixResult fix_mesh(const py::object& positions, const py::object& face_sizes, const py::object& face_indices,
                   std::optional<double> tolerance) {
    FixOptions options;
    options.tolerance = checked_tolerance(tolerance);
    PolygonMesh mesh = array_checked([&] { return mesh_from_arrays(positions, face_sizes, face_indices); });
    const FixReport report = released({}, [&] { return Session(SessionOptions{}).fix_mesh(std::move(mesh), options); });
    FixResult result;
    result.tolerance = report.tolerance;
    result.polygons = report.polygons;
    result.face_sizes = sizes_array(report.mesh.offsets);
    result.face_indices = int64_array(std::span<const std::uint32_t>(report.mesh.indices));
    result.source_face = int64_array(std::span<const std::uint32_t>(report.source_polygon));
    std::vector<std::uint32_t> split;
    for (const SplitPolygon& s : report.splits) split.push_back(s.polygon);
    result.split = int64_array(std::span<const std::uint32_t>(split));
    for (const NotRepaired& n : report.not_repaired) result.not_repaired.emplace_back(n.index, n.reason);
    result.pieces = report.pieces();
    return result;
}

py::object plugin_info(const py::object& path) {
    const SessionOptions session = session_options(path);
    const std::string text = released(path.is_none() ? std::string() : fs_path(path), [&] {
        Session s(session);
        return s.plugin_info_json();
    });
    return parse_json(text);
}

std::string plugin_path(const py::object& path) {
    const SessionOptions session = session_options(path);
    return released({}, [&] { return find_plugin(session.plugin).string(); });
}

}  // namespace

}  // namespace torvel::python

PYBIND11_MODULE(_torvel, m) {
    using namespace torvel::python;
    m.doc() = "The compiled part of the torvel package; use the package `torvel` itself.";
    m.attr("__version__") = std::string(torvel::version());

    constexpr const char* kSerial =
        "\n\nThread-safe: the GIL is released while the work runs; calls from several threads run one after\n"
        "another inside (the host that runs the plug-in is one per process), with the results of calls\n"
        "made one after another.";

    m.def("check", &check, "path"_a, "tolerance"_a = py::none(), py::kw_only(), "details"_a = false,
          "plugin"_a = py::none(),
          (std::string("Checks one mesh file with the plug-in's filter.\n\n"
                       "Returns the file's entry of `torvel check --format json` as a dict: path, polygons,\n"
                       "non_planar (indices, ascending), objects, precision, and with details=True the\n"
                       "measures of each reported polygon as --details gives them. tolerance is in degrees\n"
                       "(0 to 90); None uses the plug-in property's own default (45). plugin names the\n"
                       "plug-in file (default: $TORVEL_PLUGIN, then the one installed beside the module).\n\n"
                       "Raises torvel.Error (a subclass by kind: FileError, ParseError, PluginError, ...)\n"
                       "with .code, .path, .line and .message when the file cannot be checked.") +
           kSerial)
              .c_str());
    m.def("check_files", &check_files, "paths"_a, "tolerance"_a = py::none(), py::kw_only(), "jobs"_a = py::none(),
          "details"_a = false, "plugin"_a = py::none(),
          (std::string("Checks mesh files and folders as `torvel check --format json` does.\n\n"
                       "paths is a list of files and folders (a folder is searched recursively for mesh\n"
                       "files, checked in sorted path order). Returns the whole JSON document as a dict:\n"
                       "tolerance, files (one entry per file checked, in input order) and errors (each input\n"
                       "that could not be checked, with its message and code). Such a failure does not raise;\n"
                       "a plug-in that cannot be loaded does (torvel.PluginError).\n\n"
                       "jobs is as -j: that many worker processes; None: one per processor when there is\n"
                       "more than one file. With jobs >= 2 the run forks: other torvel calls from other\n"
                       "threads wait until it is done.") +
           kSerial)
              .c_str());

    py::class_<ObjectResult>(m, "ObjectResult", "One object of a mesh checked with check_mesh(..., objects=...).")
        .def_readonly("name", &ObjectResult::name, "The object's name in the scene (unique in the mesh).")
        .def_readonly("source_name", &ObjectResult::source_name, "The name as given in `objects`.")
        .def_readonly("first_face", &ObjectResult::first_face, "The mesh's index of the object's first face.")
        .def_readonly("polygons", &ObjectResult::polygons, "The object's face count.")
        .def_readonly("non_planar", &ObjectResult::non_planar,
                      "The faces the filter reported, int64 indices within the object, ascending.")
        .def("__repr__", [](const ObjectResult& o) {
            return "ObjectResult(name=" + py::repr(py::str(o.name)).cast<std::string>() +
                   ", polygons=" + std::to_string(o.polygons) +
                   ", non_planar=" + std::to_string(o.non_planar.size()) + " faces)";
        });

    py::class_<CheckResult>(m, "CheckResult", "What check_mesh found: the filter's verdict on a mesh in memory.")
        .def_readonly("tolerance", &CheckResult::tolerance, "The tolerance the filter read, in degrees.")
        .def_readonly("polygons", &CheckResult::polygons, "The mesh's face count.")
        .def_readonly("non_planar", &CheckResult::non_planar,
                      "The faces the filter reported, int64 indices into the mesh, ascending.")
        .def_readonly("objects", &CheckResult::objects,
                      "A list of ObjectResult, one per entry of `objects`; empty when none was given.")
        .def("describe", &describe,
             "Describes every face of the mesh (a description, never the filter's verdict).\n\n"
             "Returns a dict of numpy arrays with one entry per face: bend (degrees, NaN where it\n"
             "cannot be measured: a degenerate face), out_of_plane (NaN where there is none),\n"
             "degenerate_corner (the first corner with a zero normal, -1 when none) and\n"
             "degenerate_cause ('zero-length edge', 'collinear', '' when not degenerate).\n"
             "The description was made from the mesh as check_mesh checked it: arrays changed since\n"
             "do not change it. Raises torvel.UsageError after check_mesh(..., describe=False).")
        .def("__repr__", [](const CheckResult& r) {
            return "CheckResult(polygons=" + std::to_string(r.polygons) +
                   ", non_planar=" + std::to_string(r.non_planar.size()) + " faces, tolerance=" +
                   py::repr(py::float_(r.tolerance)).cast<std::string>() + ")";
        });

    m.def("check_mesh", &check_mesh, "positions"_a, "face_sizes"_a, "face_indices"_a, "tolerance"_a = py::none(),
          py::kw_only(), "objects"_a = py::none(), "describe"_a = true,
          (std::string("Checks a mesh already in memory with the plug-in's filter.\n\n"
                       "positions: (N, 3) coordinates (float64; other number types and lists are converted);\n"
                       "face_sizes: the corner count of each face; face_indices: the vertices of all faces\n"
                       "one after another (any integer dtype). objects: an optional list of\n"
                       "(name, first_face, face_count) that covers the faces in order; each is checked as\n"
                       "an object of its own, as the objects of a file are. The arrays are copied once, into\n"
                       "the scene. describe=True (the default) also describes every face from the scene's\n"
                       "copy, for CheckResult.describe() (some 40 bytes a face); describe=False keeps the\n"
                       "call's memory to the scene's mesh. Returns a CheckResult.\n\n"
                       "Raises torvel.UsageError (a ValueError) naming the argument and its first bad element\n"
                       "for arrays that do not hold together: a wrong shape, a size below 3, sizes that do not\n"
                       "add up to the index count, an index out of range, a coordinate that is not finite.") +
           kSerial)
              .c_str());

    m.def("fix", &fix, "path"_a, "out"_a = py::none(), "tolerance"_a = py::none(), py::kw_only(),
          "dry_run"_a = false, "plugin"_a = py::none(),
          (std::string("Repairs one mesh file as `torvel fix PATH -o OUT` does.\n\n"
                       "Each face the filter reports is split into the fewest planar pieces, which the filter\n"
                       "is asked about again; OUT is the input with only those faces rewritten (or, in\n"
                       "another format, the repaired mesh converted). OUT never replaces the input.\n"
                       "dry_run=True writes nothing (out may then be None). Returns the JSON document of\n"
                       "`torvel fix --format json` as a dict. Raises torvel.Error when the file cannot be\n"
                       "read or OUT cannot be written.") +
           kSerial)
              .c_str());

    py::class_<FixResult>(m, "FixResult", "What fix_mesh made: the repaired faces over the same vertices.")
        .def_readonly("tolerance", &FixResult::tolerance, "The tolerance the filter read, in degrees.")
        .def_readonly("polygons", &FixResult::polygons, "The input's face count.")
        .def_readonly("face_sizes", &FixResult::face_sizes, "int64: the corner count of each face of the result.")
        .def_readonly("face_indices", &FixResult::face_indices,
                      "int64: the vertices of the result's faces, one face after another.")
        .def_readonly("source_face", &FixResult::source_face,
                      "int64: for each face of the result, the input face it came from.")
        .def_readonly("split", &FixResult::split, "int64: the input faces that were split, ascending.")
        .def_readonly("pieces", &FixResult::pieces, "How many pieces the split faces became in all.")
        .def_readonly("not_repaired", &FixResult::not_repaired,
                      "A list of (face, reason): the reported faces left as they are, ascending.")
        .def("__repr__", [](const FixResult& r) {
            return "FixResult(polygons=" + std::to_string(r.polygons) + ", split=" + std::to_string(r.split.size()) +
                   ", pieces=" + std::to_string(r.pieces) + ", not_repaired=" + std::to_string(r.not_repaired.size()) +
                   ")";
        });

    m.def("fix_mesh", &fix_mesh, "positions"_a, "face_sizes"_a, "face_indices"_a, "tolerance"_a = py::none(),
          (std::string("Repairs a mesh in memory as `torvel fix` repairs a file.\n\n"
                       "Takes the arrays of check_mesh. Each face the filter reports is split in place into\n"
                       "the fewest planar pieces, verified by the filter as `torvel fix` verifies them; the\n"
                       "vertices never move, so the positions stay as they are. Returns a FixResult.\n"
                       "Raises torvel.UsageError (a ValueError) for arrays as check_mesh does.") +
           kSerial)
              .c_str());

    m.def("plugin_info", &plugin_info, "path"_a = py::none(),
          "Describes the plug-in as `torvel plugin-info --format json` does (a dict): name, author,\n"
          "version, items and their callbacks, the settings property. path names the plug-in file\n"
          "(default: $TORVEL_PLUGIN, then the one installed beside the module). Raises\n"
          "torvel.PluginError when it cannot be loaded.");
    m.def("plugin_path", &plugin_path, "path"_a = py::none(),
          "The plug-in file the other functions load: path when given, else $TORVEL_PLUGIN, else the\n"
          "one installed beside the module. Raises torvel.PluginError, listing the places looked at.");
}
