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
    CRef scene_root() const { return root_; }
    SceneRoot& root();
    const SceneRoot& root() const;
    // Removes every scene object (meshes, properties, selections) and makes a fresh "Scene_Root".
    // Plug-ins stay loaded; the current selection is cleared.
    void new_scene();
    // Adds a polygon-mesh object under the root; the name is made unique with a numeric suffix. The object
    // takes the mesh's positions, offsets and indices as they are (moved, never copied); the mesh's
    // objects, face lines and warnings are not read. Throws HostError for bad geometry.
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
    template <class Lists>
    bool name_taken(const Lists& lists, const std::wstring& name) const;

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
