// One file's scene: a fresh scene in the host, the plug-in loaded for it, its tolerance set and read back,
// the file's objects added, and the filter run on each object through host::run_filter. check, fix and
// the script commands learn the verdict here and nowhere else.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <xsi_customproperty.h>
#include <xsi_ref.h>

#include "host.h"
#include "polygon_mesh.h"

namespace torvel {

// Sets the settings property's tolerance when `requested` is given and returns the value the filter will
// read. Throws Error (TV-E-PLUGIN-FILTER) when the plug-in made no such parameter or refuses the value.
// The host must be bound (HostScope).
double settings_tolerance(host::Host& host, const std::optional<double>& requested);

// The polygons of `object` the filter leaves selected when all of them are selected, ascending. The
// host's own selection is not touched. Throws HostError from run_filter (no such filter, a failing one).
std::vector<std::uint32_t> reported_polygons(host::Host& host, const XSI::CRef& object);

// The shortest text that reads back to `value`, for messages ("0.5", "12").
std::string number_text(double value);

// A parameter's range for messages: "0 to 90" ("none" for an open end).
std::string range_text(const XSI::Parameter& parameter);

class FileSession {
public:
    // A fresh scene in `host` (bound by the caller) with the plug-in at `plugin` loaded and the tolerance
    // set when given. Throws HostError when the plug-in cannot be loaded and Error when it refuses the
    // tolerance. Every exit, also by an exception, runs the filters' Term and XSIUnloadPlugin; a failure
    // there is printed on stderr, never thrown.
    FileSession(host::Host& host, const std::filesystem::path& plugin, const std::optional<double>& tolerance);
    FileSession(const FileSession&) = delete;
    FileSession& operator=(const FileSession&) = delete;

    double tolerance() const { return tolerance_; }

    // The objects in the scene, in order, their arrays moved there (split_objects' meshes: one object
    // each, named), named as one batch (Host::add_meshes: a repeated name is numbered apart from the
    // file's other names). Throws FileError naming `path` for geometry the host refuses; then none is added.
    std::vector<XSI::CRef> add_objects(std::vector<PolygonMesh>&& objects, const std::string& path);
    // reported_polygons(object), a failure of the filter thrown as Error naming the plug-in.
    std::vector<std::uint32_t> reported(const XSI::CRef& object);

private:
    // Loads the plug-in; its destructor shuts every plug-in down again.
    struct Loaded {
        Loaded(host::Host& host, const std::filesystem::path& plugin);
        ~Loaded();
        Loaded(const Loaded&) = delete;
        Loaded& operator=(const Loaded&) = delete;
        host::Host& host;
    };

    host::Host& host_;
    std::filesystem::path plugin_;
    Loaded loaded_;
    double tolerance_ = 0;
};

// The tolerance the plug-in's settings property starts with (45 for this plug-in): read in a scene of
// its own, for a run that checked no file. Throws as FileSession does.
double default_tolerance(host::Host& host, const std::filesystem::path& plugin);

}  // namespace torvel
