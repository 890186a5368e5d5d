// The in-process host: one scene, the message log, the desktop, the script engine and the loaded
// plug-ins. There is one Host per process (host()); the SDK classes that plug-ins call work on it.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <xsi_application.h>
#include <xsi_decl.h>

#include "objects.h"
#include "script.h"

namespace torvel::host {

// Errors inside the host core and program carry the name, file or line at fault in their message.
class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct LogEntry {
    XSI::siSeverityType severity;
    std::wstring text;
};

class Log {
public:
    using Observer = std::function<void(const LogEntry&)>;
    void add(XSI::siSeverityType severity, std::wstring text);
    const std::vector<LogEntry>& entries() const { return entries_; }
    void clear() { entries_.clear(); }
    // Called for every entry as it is added (the program echoes with it); one observer at a time.
    void set_observer(Observer observer) { observer_ = std::move(observer); }

private:
    std::vector<LogEntry> entries_;
    Observer observer_;
};

class PluginManager;

class Host {
public:
    Host();
    ~Host();

    Store& store() { return store_; }
    Log& log() { return log_; }
    CommandRegistry& commands() { return commands_; }
    PluginManager& plugins() { return *plugins_; }

    // The application and desktop objects (they outlive every scene).
    CRef application_ref() const { return application_; }
    CRef desktop_ref() const { return desktop_; }

    // --- scene ---
    CRef scene_root() const { return root_; }
    SceneRoot& root();
    // Removes every scene object (meshes, properties, selections) and makes a fresh "Scene_Root".
    // Plug-ins stay loaded; the current selection is cleared.
    void new_scene();
    // Adds a polygon-mesh object under the root; the name is made unique with a numeric suffix.
    // Throws HostError for bad geometry.
    CRef add_mesh(std::wstring name, std::vector<double> positions, std::vector<std::uint32_t> offsets,
                  std::vector<std::uint32_t> indices);
    // Adds a property of a registered kind under `target` (the root or a mesh object), defines it
    // through the kind's Define callback, and returns it. The name is `kind`, made unique with a numeric
    // suffix. Throws HostError when the kind is not registered or the target cannot hold properties.
    CRef add_property(const std::wstring& kind, const CRef& target);
    // Full-name / root-relative lookup as CRef::Set does it; empty when nothing matches.
    CRef resolve(std::wstring_view name) const;
    std::wstring full_name(const CRef& ref) const;

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
    void redraw() { ++redraws_; }

    // Builds `property`'s page afresh through its kind's DefineLayout callback.
    void define_layout(const CRef& property);

    // Every script the plug-ins ran through Application::ExecuteScriptCode, in order.
    struct ScriptRun {
        std::wstring code;
        std::wstring language;
    };
    const std::vector<ScriptRun>& script_runs() const { return script_runs_; }
    void record_script_run(std::wstring code, std::wstring language) {
        script_runs_.push_back(ScriptRun{std::move(code), std::move(language)});
    }

private:
    template <class Lists>
    bool name_taken(const Lists& lists, const std::wstring& name) const;

    Store store_;
    Log log_;
    CommandRegistry commands_;
    std::unique_ptr<PluginManager> plugins_;
    CRef root_;
    CRef application_;
    CRef desktop_;
    std::vector<CRef> selection_;
    std::vector<CRef> scene_objects_;  // removed by new_scene
    std::vector<ScriptRun> script_runs_;
    std::wstring selection_filter_;
    int redraws_ = 0;
};

// The process's host.
Host& host();

// The page layout of a property (a PPGLayout reference on the property object).
CRef layout_ref(const CRef& property);

// Text helpers shared by the core and the program.
std::string to_utf8(std::wstring_view text);
// Invalid UTF-8 bytes become U+FFFD.
std::wstring from_utf8(std::string_view text);

}  // namespace torvel::host
