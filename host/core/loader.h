// Plug-in libraries: opening, registration through XSILoadPlugin, callback lookup by exported name,
// and unloading through XSIUnloadPlugin.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <xsi_context.h>
#include <xsi_pluginregistrar.h>

#include "objects.h"

namespace torvel::host {

class Host;

// The three forms of exported item callbacks.
using ConstStatusCallback = XSI::CStatus (*)(const XSI::CRef&);
using StatusCallback = XSI::CStatus (*)(XSI::CRef&);
using BoolCallback = bool (*)(const XSI::CRef&);

// One exported callback of an item, resolved once at load.
struct Callback {
    std::string exported_name;  // the symbol it was found under
    void* address = nullptr;
};

struct ItemInfo {
    std::wstring name;
    bool is_filter = false;
    XSI::LONG filter_type = 0;
    CRef item;                                  // PluginItemObject
    std::map<std::string, Callback> callbacks;  // keyed by callback name: "Init", "Subset", "Define", ...
    const Callback* find(const std::string& callback) const;
};

// The exported (defined, global) function names of a shared library, read from its ELF dynamic symbol
// table. Throws HostError naming the path when the file is not a readable ELF shared object.
std::vector<std::string> exported_functions(const std::filesystem::path& path);
// The same for an image in memory; `name` stands for the file in error messages.
std::vector<std::string> exported_functions(std::span<const unsigned char> image, const std::string& name);

// An opened plug-in library. Opening never runs plug-in code; load() calls XSILoadPlugin.
class PluginLibrary {
public:
    // dlopen(RTLD_NOW | RTLD_LOCAL). Throws HostError naming the path and dlerror()'s text, or naming
    // the missing entry point XSILoadPlugin.
    explicit PluginLibrary(std::filesystem::path path);
    ~PluginLibrary();  // dlclose
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Calls XSILoadPlugin with a fresh registrar, records identity and items and resolves each item's
    // callbacks ("<item>_<callback>", exactly, else with the item prefix matched regardless of case).
    // Throws HostError when XSILoadPlugin fails.
    void load(Host& host);
    // As load(host), but an item whose name `name_taken` reports as already registered elsewhere is
    // refused with a warning in the log instead of being recorded.
    void load(Host& host, const std::function<bool(std::wstring_view)>& name_taken);
    // Calls XSIUnloadPlugin when the library exports it.
    void unload(Host& host);

    CRef registrar() const { return registrar_; }
    const std::vector<ItemInfo>& items() const { return items_; }
    const ItemInfo* find_item(std::wstring_view name) const;  // case-insensitive
    // The registered plug-in name (PluginRegistrar::PutName), empty before load().
    std::wstring name() const;
    // The library's exported functions, read once when it was opened.
    const std::vector<std::string>& exports() const { return exports_; }

private:
    void forget_registration();  // removes the registrar and its items from the store

    std::filesystem::path path_;
    void* handle_ = nullptr;
    Host* host_ = nullptr;  // the host load() registered with
    CRef registrar_;
    std::vector<ItemInfo> items_;
    std::vector<std::string> exports_;
};

// The loaded plug-ins, in load order, and the calls the host makes into them.
class PluginManager {
public:
    explicit PluginManager(Host& host) : host_(host) {}
    // Closes the libraries still open, last loaded first, without calling into them: call shutdown()
    // first for their Term callbacks and XSIUnloadPlugin.
    ~PluginManager();

    // Opens and loads a library, then calls each of its filters' Init. Throws HostError (also for a file
    // already loaded). A failing or throwing Init is logged, and the library stays loaded.
    PluginLibrary& load(const std::filesystem::path& path);
    // By registered name (case-insensitive) or path: each filter's Unload, XSIUnloadPlugin, close.
    void unload(std::wstring_view name_or_path);
    // Each filter's Reload, XSIUnloadPlugin, close, open, XSILoadPlugin, each filter's Init. The library
    // keeps its place in load order; when it cannot be opened or loaded again it stays closed and
    // HostError is thrown.
    void reload(std::wstring_view name_or_path);
    // For every library still loaded, last loaded first: each filter's Term, then XSIUnloadPlugin, close.
    void shutdown();

    const std::vector<std::unique_ptr<PluginLibrary>>& libraries() const { return libraries_; }
    PluginLibrary* find_library(std::wstring_view name_or_path);
    // The registered item of that name in any loaded library (case-insensitive), or null.
    const ItemInfo* find_item(std::wstring_view name) const;

    // Calls into plug-ins. Each call makes a fresh context (a page-event context when
    // request.event_id != 0) inside its own store scope, so everything the call made transiently is
    // released when it returns. A callback the item does not export is not called (result.called false).
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

    Host& host_;
    std::vector<std::unique_ptr<PluginLibrary>> libraries_;
};

}  // namespace torvel::host
