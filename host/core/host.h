// The in-process host: one scene, the message log, the desktop, the script engine and the loaded
// plug-ins. The program and each test own one; the SDK classes that plug-ins call work on the host
// bound to the current scope (HostScope), which the host does itself around every call into a plug-in.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <xsi_decl.h>

#include "errors.h"
#include "log.h"
#include "objects.h"
#include "script.h"
#include "host_link.h"
#include "text.h"

namespace torvel::host {

using torvel::HostError;

class PluginRegistry;

class Host final : public XSI::detail::HostLink {
public:
    Host();
    // Closes the plug-in libraries still open without calling into them: call plugins().shutdown()
    // first for their Term callbacks and XSIUnloadPlugin.
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    Log& log() override { return log_; }
    // The host's commands: its own (SIAddProp, SetSelFilter, LogMessage), run by plug-ins' scripts.
    CommandRegistry& commands() { return commands_; }
    PluginRegistry& plugins() { return *plugins_; }

    // The application and desktop objects (they outlive every scene).
    CRef application_ref() const override { return application_; }
    CRef desktop_ref() const override { return desktop_; }

    // --- scene ---
    // Names: the root's children and properties share one namespace, each mesh object's properties have
    // their own. In each, every name is one object's, indexed: lookups take O(1), and so does making a
    // name unique, per object. Under the root, the name of a registered property kind is held by a
    // property of that kind only: a plug-in that looks its property up by name never finds another object.
    CRef scene_root() const { return root_; }
    const SceneRoot& root() const;
    // Removes every scene object (meshes, properties, selections) and makes a fresh "Scene_Root".
    // Plug-ins stay loaded; the current selection is cleared.
    void new_scene();
    // Adds polygon-mesh objects under the root, in order, as one batch (the objects of one file): mesh i
    // named after names[i] (empty: "mesh"); both vectors have the same length. Each keeps its name when
    // no object has it and no earlier one of the batch took it; any other gets the smallest number
    // appended that gives a name no object has and none of the batch wants ("Cube", "Cube", "Cube1"
    // become "Cube", "Cube2", "Cube1"). One wanting the name of a registered property kind gets a number
    // too, and a warning in the log says so. Each object takes its mesh's positions, offsets and indices
    // as they are (moved, never copied); the meshes' objects, face lines and warnings are not read. The
    // geometry of every mesh is checked first: HostError for bad geometry, and then none is added.
    std::vector<CRef> add_meshes(std::vector<std::wstring> names, std::vector<PolygonMesh>&& meshes);
    // add_meshes with one mesh.
    CRef add_mesh(std::wstring name, PolygonMesh&& mesh);
    // Gives the mesh object `object` new geometry, taken as add_mesh takes it. A mesh's arrays never change
    // while its object lives, so a new object takes its place: the same name, place among the root's
    // children and properties; every reference to the old object and its components goes stale, and the
    // selection loses the items of it (a whole-object item follows it). When `replaced` is given, it
    // receives the old object's positions, offsets and indices, moved (so views of them stay valid).
    // Returns the new object. Throws HostError for bad geometry (nothing changes then) or when `object` is
    // not a live mesh object.
    CRef replace_mesh(const CRef& object, PolygonMesh&& mesh, PolygonMesh* replaced = nullptr);
    // Adds a property of a registered kind under `target` (the root or a mesh object), defines it
    // through the kind's Define callback, and returns it. The name is `kind`, made unique with a numeric
    // suffix. Throws HostError when the kind is not registered or the target cannot hold properties.
    CRef add_property(const std::wstring& kind, const CRef& target);
    // What add_property does before the Define callback, for any kind, registered or not (no plug-in is
    // called): an empty property named `name`, made unique, under `target`. Throws HostError when the
    // target cannot hold properties.
    CRef add_empty_property(const std::wstring& name, const std::wstring& kind, const CRef& target);
    // Renames an object (SIObject::PutName). Under the root or a mesh object, the name is made unique in
    // its namespace as add_meshes makes it (the object's own name stays as it is) and may not be empty;
    // other objects take it as given. False, and nothing changes, for an empty name there or a reference
    // to no object.
    bool rename(const CRef& object, const std::wstring& name) override;
    // Renames every object under the root that holds the name of a registered property kind without
    // being a property of that kind, each with a warning in the log. The plug-in registry calls it after
    // each load, before the filters' Init, which may look their property up by name.
    void free_property_kind_names();
    // Full-name / root-relative lookup as CRef::Set does it; empty when nothing matches.
    CRef resolve(std::wstring_view name) const override;
    std::wstring full_name(const CRef& ref) const override;

    // --- selection ---
    // A selection item for the listed components (all of them when `elements` is empty) of a mesh
    // object; component is siPolygonFaceID or siVertexID. Throws HostError for an index out of range.
    CRef make_component_item(const CRef& mesh_object, siClassID component, std::span<const std::uint32_t> elements);
    // A selection item for a whole object.
    CRef make_object_item(const CRef& object);
    std::vector<CRef>& selection() { return selection_; }
    // The polygon or vertex indices an item currently stands for (all live members of its
    // subcomponent; empty for a whole object).
    std::vector<std::uint32_t> item_elements(const CRef& item) const;

    // --- user interface state ---
    const std::wstring& selection_filter() const { return selection_filter_; }
    void set_selection_filter(std::wstring name) { selection_filter_ = std::move(name); }
    int redraw_count() const { return redraws_; }
    void redraw() override { ++redraws_; }

    // Builds `property`'s page afresh through its kind's DefineLayout callback.
    void define_layout(const CRef& property);

    // Every script the plug-ins ran through Application::ExecuteScriptCode, in order.
    struct ScriptRun {
        std::wstring code;
        std::wstring language;
    };
    const std::vector<ScriptRun>& script_runs() const { return script_runs_; }
    ScriptResult execute_script(std::wstring_view code, std::wstring_view language) override;
    Object& adopt(std::unique_ptr<Object> object, bool transient) override {
        return store_.adopt(std::move(object), transient);
    }

private:
    SceneRoot& scene();
    // The namespace of the objects under `parent` (the root or a mesh object), or null.
    NameIndex* names_under(const CRef& parent);
    // The names `wanted` get in `names`, unique_names.h's rule. Under the root a name that a registered
    // property kind other than `own_kind` has counts as taken, and each object that wanted one is logged.
    std::vector<std::wstring> unique_names(NameIndex& names, std::span<const std::wstring> wanted,
                                           std::wstring_view own_kind = {});
    // Names `obj`, which `names` holds, after `wanted` by that rule (its present name counts as taken).
    void give_name(Object& obj, NameIndex& names, const std::wstring& wanted);

    Store store_;
    Log log_;
    CommandRegistry commands_;
    std::unique_ptr<PluginRegistry> plugins_;
    CRef root_;
    CRef application_;
    CRef desktop_;
    std::vector<CRef> selection_;
    std::vector<CRef> scene_objects_;  // removed by new_scene
    std::vector<ScriptRun> script_runs_;
    std::wstring selection_filter_;
    int redraws_ = 0;
};

// Binds `host` as the one the SDK serves until the scope ends, then restores the binding it replaced.
// Scopes nest; a host may be bound by several at once.
class HostScope {
public:
    explicit HostScope(Host& host) : previous_(XSI::detail::exchange_host(&host)) {}
    ~HostScope() { XSI::detail::exchange_host(previous_); }
    HostScope(const HostScope&) = delete;
    HostScope& operator=(const HostScope&) = delete;

private:
    XSI::detail::HostLink* previous_;
};

}  // namespace torvel::host
