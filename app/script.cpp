// torvel script: the program's own host commands, registered next to the core's, and the runner.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include <xsi_context.h>
#include <xsi_customproperty.h>

#include "app.h"
#include "host.h"
#include "mesh_load.h"
#include "poly_torvel_filer/items.h"
#include "plugin_registry.h"
#include "file_session.h"
#include "repair.h"
#include "report.h"
#include "text.h"

namespace torvel::app {

namespace {

using host::Host;
using host::ScriptArg;
using host::ScriptArgs;
using host::ScriptError;

// What the program's commands share during one script run.
struct ScriptEnv {
    Host& host;
    fs::path base;                      // relative paths in commands are taken from here: the script's directory
    std::optional<std::string> plugin;  // --plugin, for LoadPlugin without an argument
    importer::Limits import_limits;     // for the files Assimp reads
    RunFiles& files;                    // what the run reads or writes: never replaced by ExportMesh or the log
};

std::string cmd(const ScriptArgs& args) { return to_utf8(args.command()); }
std::string in_quotes(std::wstring_view s) { return "\"" + to_utf8(s) + "\""; }

fs::path script_path(const ScriptEnv& env, const std::wstring& text) {
    const fs::path p(to_utf8(text));
    return p.is_absolute() || env.base.empty() ? p : env.base / p;
}

// "0,3,5-9": indices and inclusive ranges, each checked against `count` before any is expanded so that
// a range such as "0-4000000000" is refused instead of filling memory.
std::vector<std::uint32_t> parse_indices(const ScriptArgs& args, std::wstring_view text, std::uint32_t count,
                                         const std::string& object, const char* component) {
    const std::string list = to_utf8(text);
    auto bad = [&](const std::string& what) { return ScriptError(cmd(args) + ": " + what + " in " + in_quotes(text)); };
    auto number = [&](std::string_view s) {
        std::uint64_t v = 0;
        const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (s.size() > 1 && s.front() == '-') throw bad("negative index \"" + std::string(s) + "\"");
        if (s.empty() || ec != std::errc() || ptr != s.data() + s.size() || v > 0xffffffffu)
            throw bad("bad index \"" + std::string(s) + "\"");
        return static_cast<std::uint32_t>(v);
    };
    auto trim = [](std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
        return s;
    };
    if (trim(list).empty()) throw bad("empty index list");

    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    std::string_view rest = list;
    for (;;) {
        const std::size_t comma = rest.find(',');
        const std::string_view entry = trim(rest.substr(0, comma));
        if (entry.empty()) throw bad("empty entry");
        // A '-' in front is a sign, not a range: "-1" is a negative index.
        const std::size_t dash = entry.find('-', 1);
        if (dash != std::string_view::npos && trim(entry.substr(dash + 1)).empty())
            throw bad("range \"" + std::string(entry) + "\" has no end");
        const std::uint32_t first = number(trim(entry.substr(0, dash)));
        const std::uint32_t last = dash == std::string_view::npos ? first : number(trim(entry.substr(dash + 1)));
        if (last < first) throw bad("range \"" + std::string(entry) + "\" runs backwards");
        if (last >= count)
            throw bad("\"" + object + "\" has no " + component + " " + std::to_string(last) + " (it has " +
                      std::to_string(count) + ")");
        ranges.emplace_back(first, last);
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    std::vector<std::uint32_t> out;
    for (auto [first, last] : ranges)
        for (std::uint64_t i = first; i <= last; ++i) out.push_back(static_cast<std::uint32_t>(i));
    return out;
}

host::MeshObject& mesh_object(Host& h, const ScriptArgs& args, const std::wstring& name) {
    auto* obj = h.store().find_as<host::MeshObject>(h.resolve(name));
    if (!obj) throw ScriptError(cmd(args) + ": no polygon-mesh object " + in_quotes(name));
    return *obj;
}

const host::ItemInfo& filter_item(Host& h, const ScriptArgs& args, const std::wstring& name) {
    const host::ItemInfo* item = h.plugins().find_item(name);
    if (!item || !item->is_filter) throw ScriptError(cmd(args) + ": no filter " + in_quotes(name) + " is registered");
    return *item;
}

host::PluginLibrary& loaded_library(Host& h, const ScriptEnv& env, const ScriptArgs& args) {
    args.expect_count(1, 1);
    const std::wstring& name = args.string(0);
    host::PluginLibrary* lib = h.plugins().find_library(name);
    if (!lib) lib = h.plugins().find_library(from_utf8(script_path(env, name).string()));
    if (!lib) throw ScriptError(cmd(args) + ": no loaded plug-in " + in_quotes(name));
    return *lib;
}

XSI::Parameter parameter(Host& h, const ScriptArgs& args, const std::wstring& name) {
    const XSI::CRef ref = h.resolve(name);
    if (!ref.IsA(XSI::siParameterID)) throw ScriptError(cmd(args) + ": no parameter " + in_quotes(name));
    return XSI::Parameter(ref);
}

XSI::CValue script_value(const ScriptArgs& args, std::size_t i) {
    const ScriptArg& a = args.raw(i);
    switch (a.kind) {
        case ScriptArg::Kind::number: return XSI::CValue(a.number);
        case ScriptArg::Kind::string: return XSI::CValue(XSI::CString(a.text));
        case ScriptArg::Kind::identifier: {
            const std::wstring word = ascii_lowered(a.text);
            if (word != L"true" && word != L"false")
                throw ScriptError(cmd(args) + ": argument " + std::to_string(i + 1) +
                                  " must be a number, a string, True or False, not " + to_utf8(a.text));
            return XSI::CValue(word == L"true");
        }
    }
    return {};
}

void add_component_selection(Host& h, const ScriptArgs& args, XSI::siClassID component) {
    args.expect_count(1, 2);
    const std::wstring& name = args.string(0);
    host::MeshObject& obj = mesh_object(h, args, name);
    const bool polygons = component == XSI::siPolygonFaceID;
    std::vector<std::uint32_t> elements;
    if (args.size() > 1)
        elements = parse_indices(args, args.string(1), polygons ? obj.mesh.polygon_count() : obj.mesh.vertex_count(),
                                 to_utf8(obj.name), polygons ? "polygon" : "vertex");
    h.selection().push_back(h.make_component_item(obj.self, component, elements));
}

void print_selection(Host& h) {
    if (h.selection().empty()) {
        h.log().add(XSI::siInfoMsg, L"selection is empty");
        return;
    }
    for (const XSI::CRef& ref : h.selection()) {
        const auto* item = h.store().find_as<host::SelectionItem>(ref);
        const auto* sub = item ? h.store().find_as<host::SubComponent>(item->subcomponent) : nullptr;
        if (!sub) {
            h.log().add(XSI::siInfoMsg, h.full_name(ref) + L": whole object");
            continue;
        }
        std::vector<std::uint32_t> elements = h.item_elements(ref);
        std::sort(elements.begin(), elements.end());
        const std::wstring kind = sub->component_class == XSI::siPolygonFaceID ? L"polygons" : L"vertices";
        const std::wstring list = elements.empty() ? L"none" : from_utf8(format_ranges(elements));
        h.log().add(XSI::siInfoMsg, h.full_name(item->object) + L": " + kind + L" " + list);
    }
}

MeshView mesh_view(const host::Mesh& mesh) { return {mesh.positions, mesh.offsets, mesh.indices}; }

// RepairMesh "OBJECT"[, DEG]: the object's polygons the filter reports, at DEG for this command only,
// become their pieces, as torvel fix splits them; the object is replaced by its repaired self.
void repair_object(Host& h, const ScriptArgs& args) {
    args.expect_count(1, 2);
    host::MeshObject& obj = mesh_object(h, args, args.string(0));
    if (!h.plugins().find_item(poly_torvel_filer::kFilterName))
        throw ScriptError(cmd(args) + ": no filter " + in_quotes(poly_torvel_filer::kFilterName) +
                          " is registered (load the plug-in first)");
    const MeshView view = mesh_view(obj.mesh);
    XSI::CRef object = obj.self;
    const std::wstring name = h.full_name(object);
    const double kept = settings_tolerance(h, std::nullopt);
    const double tolerance = settings_tolerance(h, args.size() > 1 ? std::optional(args.number(1)) : std::nullopt);
    MeshRepair repair;
    // The object holds the pieces while the filter is asked about them, then the repaired mesh (or, when
    // the filter fails, its own mesh again). Its own arrays come back from the scene when the pieces
    // take their place, and `view` goes on reading them there.
    PolygonMesh own;
    bool placed = false;
    auto place = [&](PolygonMesh m) {
        object = h.replace_mesh(object, std::move(m), placed ? nullptr : &own);
        placed = true;
        return object;
    };
    try {
        repair = repair_mesh(h, object, view, tolerance, place);
        if (placed) place(repaired_mesh(view, {}, repair.splits));
    } catch (const HostError& e) {
        settings_tolerance(h, kept);
        if (placed) place(std::move(own));
        throw ScriptError(cmd(args) + ": " + e.what());
    } catch (...) {
        settings_tolerance(h, kept);
        throw;
    }
    settings_tolerance(h, kept);
    h.log().add(XSI::siInfoMsg,
                name + L": " + from_utf8(repair_summary(repair.splits, repair.not_repaired.size(), tolerance)));
    for (const NotRepaired& n : repair.not_repaired)
        h.log().add(XSI::siWarningMsg,
                    name + L": polygon " + std::to_wstring(n.index) + L" not repaired: " + from_utf8(n.reason));
}

// ExportMesh "OBJECT", "FILE": the object as its own mesh file (.obj, .ply or .off), named after it.
void export_object(Host& h, ScriptEnv& env, const ScriptArgs& args) {
    args.expect_count(2, 2);
    const host::MeshObject& obj = mesh_object(h, args, args.string(0));
    if (args.string(1).empty()) throw ScriptError(cmd(args) + ": the file name is empty");
    const fs::path file = script_path(env, args.string(1));
    if (const auto why = unwritable_format(file)) throw ScriptError(cmd(args) + ": " + file.string() + ": " + *why);
    const MeshView mesh = mesh_view(obj.mesh);
    const PolygonMesh::Object named[] = {{to_utf8(obj.name), 0, 0}};
    try {
        io::write_marked(file, mesh, named, {}, env.files, role::exported);
    } catch (const MeshError& e) {
        throw ScriptError(cmd(args) + ": " + e.what());
    }
    // Only once written: a refused export must not cost the run its log.
    io::add_marked_outputs(env.files, file, role::exported);
    h.log().add(XSI::siInfoMsg, L"exported " + h.full_name(obj.self) + L" to " + from_utf8(file.string()) + L": " +
                                    std::to_wstring(mesh.polygon_count()) + L" polygons, " +
                                    std::to_wstring(mesh.vertex_count()) + L" vertices");
}

void register_commands(host::CommandRegistry& r, ScriptEnv& env) {
    Host& h = env.host;
    r.add(L"LoadPlugin", [&h, &env](const ScriptArgs& args) {
        args.expect_count(0, 1);
        if (args.size() && args.string(0).empty())
            throw ScriptError(cmd(args) +
                              ": the plug-in path is empty (without an argument the default plug-in is loaded)");
        const fs::path library = args.size() ? script_path(env, args.string(0)) : find_plugin(env.plugin);
        env.files.add_input(library, role::plugin);
        h.plugins().load(library);
    });
    r.add(L"UnloadPlugin", [&h, &env](const ScriptArgs& args) {
        h.plugins().unload(from_utf8(loaded_library(h, env, args).path().string()));
    });
    r.add(L"ReloadPlugin", [&h, &env](const ScriptArgs& args) {
        h.plugins().reload(from_utf8(loaded_library(h, env, args).path().string()));
    });

    r.add(L"ImportMesh", [&h, &env](const ScriptArgs& args) {
        args.expect_count(1, 2);
        if (args.string(0).empty()) throw ScriptError("ImportMesh: the file name is empty");
        const fs::path file = script_path(env, args.string(0));
        std::wstring name;
        if (args.size() > 1) {
            name = args.string(1);
            if (name.empty() || name.find(L'.') != std::wstring::npos)
                throw ScriptError("ImportMesh: object name " + in_quotes(name) +
                                  " must be non-empty and contain no '.'");
        } else {
            name = from_utf8(file.stem().string());
            std::replace(name.begin(), name.end(), L'.', L'_');  // a '.' would separate names in a path
        }
        env.files.add_input(file, role::input);
        LoadedFile loaded;
        try {
            loaded = load_mesh_file(file, env.import_limits);
        } catch (const FileError& e) {
            throw ScriptError(std::string("ImportMesh: ") + e.what());
        }
        for (const std::string& warning : loaded.mesh.warnings) h.log().add(XSI::siWarningMsg, from_utf8(warning));
        std::vector<PolygonMesh> objects = split_objects(loaded, to_utf8(name));
        // One object takes NAME; several are named NAME_OBJECT, as one batch.
        const bool several = objects.size() > 1;
        std::vector<std::wstring> names;
        names.reserve(objects.size());
        for (const PolygonMesh& o : objects)
            names.push_back(several ? name + L"_" + from_utf8(o.objects.front().name) : name);
        const bool none = objects.empty();
        for (const XSI::CRef& obj : h.add_meshes(std::move(names), std::move(objects))) {
            const host::Mesh& mesh = h.store().find_as<host::MeshObject>(obj)->mesh;
            const std::size_t polygons = mesh.polygon_count(), vertices = mesh.vertex_count();
            h.log().add(XSI::siInfoMsg, L"imported " + from_utf8(file.string()) + L" as " + h.full_name(obj) + L": " +
                                            std::to_wstring(polygons) + L" polygons, " + std::to_wstring(vertices) +
                                            L" vertices");
        }
        if (none) h.log().add(XSI::siInfoMsg, L"imported " + from_utf8(file.string()) + L": no polygon-mesh object");
    });

    r.add(L"RepairMesh", [&h](const ScriptArgs& args) { repair_object(h, args); });
    r.add(L"ExportMesh", [&h, &env](const ScriptArgs& args) { export_object(h, env, args); });

    r.add(L"ClearSelection", [&h](const ScriptArgs& args) {
        args.expect_count(0, 0);
        h.selection().clear();
    });
    r.add(L"SelectPolygons", [&h](const ScriptArgs& args) { add_component_selection(h, args, XSI::siPolygonFaceID); });
    r.add(L"SelectVertices", [&h](const ScriptArgs& args) { add_component_selection(h, args, XSI::siVertexID); });
    r.add(L"SelectObject", [&h](const ScriptArgs& args) {
        args.expect_count(1, 1);
        const XSI::CRef ref = h.resolve(args.string(0));
        if (!ref.IsValid()) throw ScriptError("SelectObject: no object " + in_quotes(args.string(0)));
        h.selection().push_back(h.make_object_item(ref));
    });
    r.add(L"PrintSelection", [&h](const ScriptArgs& args) {
        args.expect_count(0, 0);
        print_selection(h);
    });

    r.add(L"ApplyFilter", [&h](const ScriptArgs& args) {
        args.expect_count(1, 1);
        const host::ItemInfo& filter = filter_item(h, args, args.string(0));
        try {
            h.selection() = host::run_filter(h, filter.name, h.selection()).output;
        } catch (const HostError& e) {
            throw ScriptError(std::string("ApplyFilter: ") + e.what());
        }
    });
    r.add(L"MatchFilter", [&h](const ScriptArgs& args) {
        args.expect_count(1, 1);
        const host::ItemInfo& filter = filter_item(h, args, args.string(0));
        host::PluginRegistry::CallRequest request;
        request.input = h.selection();
        if (!h.selection().empty()) request.input_value = XSI::CValue(h.selection().front());
        std::wstring report = filter.name + L":";
        for (const char* callback : {"Match", "Applicable"}) {
            const auto result = h.plugins().call(filter, callback, request);
            report +=
                L" " + from_utf8(callback) +
                (result.called ? (result.returned ? L" returned true" : L" returned false") : L" is not exported");
            if (callback[0] == 'M') report += L",";
        }
        h.log().add(XSI::siInfoMsg, report);
    });
    r.add(L"InspectObj", [&h](const ScriptArgs& args) {
        args.expect_count(1, 1);
        const XSI::CRef ref = h.resolve(args.string(0));
        const auto* prop = h.store().find_as<host::PropertyObject>(ref);
        if (!prop) throw ScriptError("InspectObj: no property " + in_quotes(args.string(0)));
        const host::ItemInfo* kind = h.plugins().find_item(prop->kind);
        if (!kind)
            throw ScriptError("InspectObj: the property kind " + in_quotes(prop->kind) + " is no longer registered");
        h.define_layout(ref);
        host::PluginRegistry::CallRequest request;
        request.source = ref;
        request.event_id = XSI::PPGEventContext::siOnInit;
        const auto result = h.plugins().call(*kind, "PPGEvent", request);
        // The page asked to be redrawn: build it again, as a host redraws an open page.
        if (const auto it = result.attributes.find(L"Refresh");
            it != result.attributes.end() && static_cast<bool>(it->second))
            h.define_layout(ref);
    });

    r.add(L"SetValue", [&h](const ScriptArgs& args) {
        args.expect_count(2, 2);
        const std::wstring& name = args.string(0);
        XSI::Parameter p = parameter(h, args, name);
        const XSI::CValue value = script_value(args, 1);
        const std::string shown = to_utf8(value.GetAsText().view());
        switch (p.PutValue(value).GetCode()) {
            case XSI::CStatus::OK: return;
            case XSI::CStatus::OutOfRange:
                throw ScriptError("SetValue: " + shown + " is outside the range of " + in_quotes(name) + " (" +
                                  range_text(p) + ")");
            case XSI::CStatus::InvalidArgument:
                throw ScriptError("SetValue: " + in_quotes(name) + " cannot take the value " +
                                  in_quotes(value.GetAsText().view()));
            default: throw ScriptError("SetValue: " + in_quotes(name) + " refused the value " + shown);
        }
    });
    r.add(L"GetValue", [&h](const ScriptArgs& args) {
        args.expect_count(1, 1);
        h.log().add(XSI::siInfoMsg, parameter(h, args, args.string(0)).GetValue().GetAsText().str());
    });
}

std::string read_stream(std::istream& in) { return std::string(std::istreambuf_iterator<char>(in), {}); }

}  // namespace

int run_script_command(const ScriptOptions& o) {
    if (o.file.has_value() == !o.lines.empty())
        throw UsageError(o.file ? "give a script FILE or -c LINE..., not both" : "give a script FILE, - or -c LINE...");

    std::string code, name;
    fs::path base;
    if (!o.lines.empty()) {
        name = "-c";
        for (const std::string& line : o.lines) code += line + "\n";
    } else if (*o.file == "-") {
        name = "<stdin>";
        code = read_stream(std::cin);
    } else {
        name = *o.file;
        std::error_code ec;
        if (fs::is_directory(name, ec)) throw std::runtime_error(name + ": is a folder");
        std::ifstream in(name, std::ios::binary);
        if (!in) throw std::runtime_error(name + ": cannot open the script: " + std::strerror(errno));
        code = read_stream(in);
        if (in.bad()) throw std::runtime_error(name + ": read error");
        base = fs::path(name).parent_path();
    }
    // An editor's byte-order mark is not part of the first line.
    const Utf8File source = utf8_file_text(code);
    if (!source.problem.empty()) throw std::runtime_error(name + ": " + source.problem);

    LogSink::Options log_options = o.log;
    log_options.to_stdout = !log_options.file && !log_options.verbose;
    RunFiles files;
    if (o.file && *o.file != "-") files.add_input(*o.file, role::script);
    Host h;
    LogSink log(h.log(), log_options, files);
    files.refuse_clashes();

    // The program's commands for this run, on top of the host's own.
    ScriptEnv env{h, base, o.plugin, o.import_limits, files};
    host::CommandRegistry commands(&h.commands());
    register_commands(commands, env);
    const host::HostScope bound(h);  // commands such as SetValue work through the SDK
    const host::ScriptResult result = host::run_script(commands, h.log(), from_utf8(source.text));
    h.plugins().shutdown();
    log.finish();
    if (result.ok) return kExitClean;
    std::cerr << "torvel: " << name << ":" << result.line << ": " << to_utf8(result.message) << '\n';
    return kExitError;
}

}  // namespace torvel::app
