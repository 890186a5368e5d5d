// The registry of loaded plug-ins, in load order, and the calls the host makes into them. Also the one
// operation that applies a filter to a selection (run_filter): every part of the program that needs a
// filter's verdict gets it there.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plugin_library.h"

namespace torvel::host {

class Host;

class PluginRegistry {
public:
    explicit PluginRegistry(Host& host) : host_(host) {}
    // Closes the libraries still open, last loaded first, without calling into them: call shutdown()
    // first for their Term callbacks and XSIUnloadPlugin.
    ~PluginRegistry();
    PluginRegistry(const PluginRegistry&) = delete;
    PluginRegistry& operator=(const PluginRegistry&) = delete;

    // Opens and loads a library, then calls each of its filters' Init. Throws HostError (also for a file
    // already loaded). A failing or throwing Init is logged, and the library stays loaded. Before Init,
    // an object under the root that has the name of one of its property kinds is renamed
    // (Host::free_property_kind_names).
    PluginLibrary& load(const std::filesystem::path& path);
    // By registered name (ASCII case ignored) or path: each filter's Unload, XSIUnloadPlugin, close.
    void unload(std::wstring_view name_or_path);
    // Each filter's Reload, XSIUnloadPlugin, close, open, XSILoadPlugin, each filter's Init. The library
    // keeps its place in load order; when it cannot be opened or loaded again it stays closed and
    // HostError is thrown.
    void reload(std::wstring_view name_or_path);
    // For every library still loaded, last loaded first: each filter's Term, then XSIUnloadPlugin, close.
    void shutdown();

    const std::vector<std::unique_ptr<PluginLibrary>>& libraries() const { return libraries_; }
    PluginLibrary* find_library(std::wstring_view name_or_path);
    // The registered item of that name in any loaded library (ASCII case ignored), or null.
    const ItemInfo* find_item(std::wstring_view name) const;

    // Calls into plug-ins. Each call binds the host (HostScope) and makes a fresh context (a page-event
    // context when request.event_id != 0) inside its own store scope, so everything the call made
    // transiently is released when it returns. A callback the item does not export is not called
    // (result.called false).
    struct CallRequest {
        CRef source;
        std::vector<CRef> input;  // the "Input" array attribute
        CValue input_value;       // the "Input" single-value attribute
        XSI::LONG event_id = 0;
        std::map<std::wstring, CValue> attributes;  // other attributes, set before the call
    };
    struct CallResult {
        bool called = false;
        XSI::CStatus status;                        // CStatus callbacks
        bool returned = false;                      // bool callbacks (Match, Applicable, Subset)
        std::map<std::wstring, CValue> attributes;  // every single-value attribute after the call
        std::map<std::wstring, std::vector<CRef>> array_attributes;
    };
    // Callback names: Init, Unload, Reload, Term (filters), Match, Applicable, Subset (filters, bool),
    // Define, DefineLayout, PPGEvent (properties). A filter callback whose request has no source gets
    // the filter item as its source. Throws HostError for a callback name the item's kind does not
    // have, and when the callback throws.
    CallResult call(const ItemInfo& item, const std::string& callback, const CallRequest& request);

private:
    // Calls `callback` of each filter of `lib`; a failure is logged, not thrown.
    void call_filters(const PluginLibrary& lib, const std::string& callback);
    // XSILoadPlugin / XSIUnloadPlugin with the host bound.
    void load_into(PluginLibrary& lib);
    void unload_library(PluginLibrary& lib);
    // Closes `lib` if it is still loaded; returns where it stood in load order (the count when it was gone).
    std::size_t close(const PluginLibrary* lib);

    Host& host_;
    std::vector<std::unique_ptr<PluginLibrary>> libraries_;
};

// What a filter left of a selection.
struct FilterResult {
    // The "Output" array the filter wrote (empty when it wrote none).
    std::vector<CRef> output;
    // For each input item, in input order: the components left in it after the call, in selection
    // order (empty for an item that selects a whole object or is not a selection item).
    std::vector<std::vector<std::uint32_t>> remaining;
};

// Applies the registered filter `filter_name` to `selection` through its Subset callback, the one way
// the host and the program learn a filter's verdict. The filter may remove components from the items
// in place (that is how it answers); the items stay in the store, reduced. Called on the host's thread,
// any number of times; nothing is kept between calls. Throws HostError naming the filter when no such
// filter is registered, when it exports no Subset callback, or when the callback throws.
FilterResult run_filter(Host& host, std::wstring_view filter_name, std::span<const CRef> selection);

}  // namespace torvel::host
