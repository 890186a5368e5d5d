// One plug-in library: opening it, registering it through XSILoadPlugin, finding its items' callbacks
// by exported name, and XSIUnloadPlugin. The registry (plugin_registry.h) owns the loaded libraries.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <xsi_status.h>

#include "objects.h"

namespace torvel::host {

class Log;

// How the host calls an item's exported callback.
enum class CallbackForm {
    const_status,  // CStatus (const CRef&): Init, Unload, Reload, Term
    boolean,       // bool (const CRef&): Match, Applicable, Subset
    status,        // CStatus (CRef&): Define, DefineLayout, PPGEvent
};

struct CallbackKind {
    const char* name;
    bool filter;  // a filter's callback, else a property's
    CallbackForm form;
};

// The callbacks an item of that kind may export; null for a name it does not have.
const CallbackKind* callback_kind(bool filter, std::string_view name);

// An exported function's address as the function type it is called as.
template <class Fn>
Fn function_at(void* address) {
    return reinterpret_cast<Fn>(address);
}

// A status code as text, for messages: "0", "-2147467259".
std::string status_text(const XSI::CStatus& status);

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

// An opened plug-in library. Opening never runs plug-in code; load() calls XSILoadPlugin. Whoever calls
// load() or unload() has bound the host that owns `store` (HostScope), as for any call into a plug-in.
class PluginLibrary {
public:
    // dlopen(RTLD_NOW | RTLD_LOCAL). Throws HostError naming the path and dlerror()'s text, or naming
    // the missing entry point XSILoadPlugin.
    explicit PluginLibrary(std::filesystem::path path);
    ~PluginLibrary();  // forgets the registration, dlclose
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Calls XSILoadPlugin with a fresh registrar made in `store`, records identity and items, and
    // resolves each item's callbacks ("<item>_<callback>", exactly, else with the item prefix matched
    // regardless of ASCII case). An item whose name `name_taken` reports as registered elsewhere is
    // refused with a warning in `log`. Throws HostError when XSILoadPlugin fails or throws.
    void load(Store& store, Log& log, const std::function<bool(std::wstring_view)>& name_taken);
    // Calls XSIUnloadPlugin when the library exports it; a failure is logged.
    void unload(Log& log);

    CRef registrar() const { return registrar_; }
    const std::vector<ItemInfo>& items() const { return items_; }
    const ItemInfo* find_item(std::wstring_view name) const;  // without regard to ASCII case
    // The registered plug-in name (PluginRegistrar::PutName), empty before load().
    std::wstring name() const;
    // The library's exported functions, read once when it was opened.
    const std::vector<std::string>& exports() const { return exports_; }

private:
    void forget_registration();  // removes the registrar and its items from the store

    std::filesystem::path path_;
    void* handle_ = nullptr;
    Store* store_ = nullptr;  // where load() registered
    CRef registrar_;
    std::vector<ItemInfo> items_;
    std::vector<std::string> exports_;
};

}  // namespace torvel::host
