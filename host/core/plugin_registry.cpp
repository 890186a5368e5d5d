#include "plugin_registry.h"

#include <algorithm>

#include <xsi_context.h>

#include "errors.h"
#include "files.h"
#include "host.h"
#include "text.h"

namespace torvel::host {

namespace fs = std::filesystem;

namespace {

using ConstStatusCallback = XSI::CStatus (*)(const XSI::CRef&);
using StatusCallback = XSI::CStatus (*)(XSI::CRef&);
using BoolCallback = bool (*)(const XSI::CRef&);

// Keeps a store scope open for exactly one callback, also when the callback throws.
class StoreScope {
public:
    explicit StoreScope(Store& store) : store_(store) { store_.open_scope(); }
    ~StoreScope() { store_.close_scope(); }
    StoreScope(const StoreScope&) = delete;
    StoreScope& operator=(const StoreScope&) = delete;

private:
    Store& store_;
};

}  // namespace

void PluginRegistry::load_into(PluginLibrary& lib) {
    HostScope bound(host_);
    lib.load(host_.store(), host_.log(), [this](std::wstring_view n) { return find_item(n) != nullptr; });
}

std::size_t PluginRegistry::close(const PluginLibrary* lib) {
    // Callbacks may have loaded or unloaded other libraries: find this one again by address.
    auto it = std::find_if(libraries_.begin(), libraries_.end(), [lib](const auto& p) { return p.get() == lib; });
    if (it == libraries_.end()) return libraries_.size();
    const auto index = static_cast<std::size_t>(it - libraries_.begin());
    libraries_.erase(it);
    return index;
}

void PluginRegistry::unload_library(PluginLibrary& lib) {
    HostScope bound(host_);
    lib.unload(host_.log());
}

PluginRegistry::~PluginRegistry() {
    // The host is going away: close the libraries, last loaded first, without calling into them
    // (shutdown() is the orderly way out).
    while (!libraries_.empty()) libraries_.pop_back();
}

void PluginRegistry::call_filters(const PluginLibrary& lib, const std::string& callback) {
    for (const ItemInfo& item : lib.items()) {
        if (!item.is_filter) continue;
        try {
            CallResult r = call(item, callback, CallRequest{});
            if (r.called && r.status.GetCode() != XSI::CStatus::OK)
                host_.log().add(XSI::siWarningMsg, item.name + L"_" + from_utf8(callback) + L" returned code " +
                                                       from_utf8(status_text(r.status)));
        } catch (const std::exception& e) {
            host_.log().add(XSI::siErrorMsg, from_utf8(e.what()));
        }
    }
}

PluginLibrary& PluginRegistry::load(const fs::path& path) {
    for (const auto& lib : libraries_)
        if (same_file(lib->path(), path))
            throw HostError(path.string() + ": already loaded", {}, ErrorCode::plugin_load);
    auto lib = std::make_unique<PluginLibrary>(path);
    load_into(*lib);
    libraries_.push_back(std::move(lib));
    PluginLibrary& loaded = *libraries_.back();
    host_.free_property_kind_names();
    call_filters(loaded, "Init");
    return loaded;
}

void PluginRegistry::unload(std::wstring_view name_or_path) {
    PluginLibrary* lib = find_library(name_or_path);
    if (!lib) throw HostError("no loaded plug-in \"" + to_utf8(name_or_path) + "\"", {}, ErrorCode::plugin_load);
    call_filters(*lib, "Unload");
    unload_library(*lib);
    close(lib);
}

void PluginRegistry::reload(std::wstring_view name_or_path) {
    PluginLibrary* lib = find_library(name_or_path);
    if (!lib) throw HostError("no loaded plug-in \"" + to_utf8(name_or_path) + "\"", {}, ErrorCode::plugin_load);
    const fs::path path = lib->path();
    call_filters(*lib, "Reload");
    unload_library(*lib);
    // Closing frees its names for the new registration.
    std::size_t index = close(lib);
    auto fresh = std::make_unique<PluginLibrary>(path);
    load_into(*fresh);
    index = std::min(index, libraries_.size());
    PluginLibrary& loaded =
        **libraries_.insert(libraries_.begin() + static_cast<std::ptrdiff_t>(index), std::move(fresh));
    host_.free_property_kind_names();
    call_filters(loaded, "Init");
}

void PluginRegistry::shutdown() {
    while (!libraries_.empty()) {
        PluginLibrary* lib = libraries_.back().get();
        call_filters(*lib, "Term");
        unload_library(*lib);
        close(lib);
    }
}

PluginLibrary* PluginRegistry::find_library(std::wstring_view name_or_path) {
    if (name_or_path.empty()) return nullptr;
    for (const auto& lib : libraries_)
        if (iequals(lib->name(), name_or_path)) return lib.get();
    const fs::path path{to_utf8(name_or_path)};
    for (const auto& lib : libraries_)
        if (same_file(lib->path(), path)) return lib.get();
    if (!path.has_parent_path())
        for (const auto& lib : libraries_)
            if (lib->path().filename() == path) return lib.get();
    return nullptr;
}

const ItemInfo* PluginRegistry::find_item(std::wstring_view name) const {
    for (const auto& lib : libraries_)
        if (const ItemInfo* item = lib->find_item(name)) return item;
    return nullptr;
}

PluginRegistry::CallResult PluginRegistry::call(const ItemInfo& item, const std::string& callback,
                                                const CallRequest& request) {
    const CallbackKind* kind = callback_kind(item.is_filter, callback);
    if (!kind)
        throw HostError(to_utf8(item.name) + ": a " + (item.is_filter ? "filter" : "property") + " has no callback \"" +
                            callback + "\"",
                        {}, ErrorCode::plugin_filter);
    CallResult result;
    const Callback* cb = item.find(callback);
    if (!cb) return result;

    Store& store = host_.store();
    HostScope bound(host_);
    StoreScope scope(store);
    auto& ctx =
        store.make_transient<ContextObject>(request.event_id != 0 ? XSI::siPPGEventContextID : XSI::siContextID);
    ctx.source = request.source == CRef() && item.is_filter ? item.item : request.source;
    ctx.event_id = request.event_id;
    for (const auto& [name, value] : request.attributes) ctx.attributes[name] = value;
    if (!request.input_value.IsEmpty()) ctx.attributes[L"Input"] = request.input_value;
    if (!request.input.empty()) ctx.array_attributes[L"Input"] = request.input;
    const CRef context = ctx.self;

    try {
        switch (kind->form) {
            case CallbackForm::const_status:
                result.status = function_at<ConstStatusCallback>(cb->address)(context);
                break;
            case CallbackForm::boolean: result.returned = function_at<BoolCallback>(cb->address)(context); break;
            case CallbackForm::status: {
                CRef arg = context;
                result.status = function_at<StatusCallback>(cb->address)(arg);
                break;
            }
        }
    } catch (const std::exception& e) {
        throw HostError(cb->exported_name + " threw: " + e.what(), {}, ErrorCode::plugin_filter);
    } catch (...) {
        throw HostError(cb->exported_name + " threw an unknown exception", {}, ErrorCode::plugin_filter);
    }
    result.called = true;
    // Moved out: the context goes with the call's store scope.
    if (auto* after = store.find_as<ContextObject>(context)) {
        for (auto& [name, value] : after->attributes) result.attributes[name] = std::move(value);
        for (auto& [name, refs] : after->array_attributes) result.array_attributes[name] = std::move(refs);
    }
    return result;
}

FilterResult run_filter(Host& host, std::wstring_view filter_name, std::span<const CRef> selection) {
    const ItemInfo* filter = host.plugins().find_item(filter_name);
    const std::string name = to_utf8(filter_name);
    if (!filter || !filter->is_filter)
        throw HostError("no filter \"" + name + "\" is registered", name, ErrorCode::plugin_filter);
    PluginRegistry::CallRequest request;
    request.input.assign(selection.begin(), selection.end());
    PluginRegistry::CallResult call = host.plugins().call(*filter, "Subset", request);
    if (!call.called)
        throw HostError("the filter \"" + name + "\" has no Subset callback", name, ErrorCode::plugin_filter);

    FilterResult result;
    if (auto out = call.array_attributes.find(L"Output"); out != call.array_attributes.end())
        result.output = std::move(out->second);
    result.remaining.reserve(selection.size());
    for (const CRef& item : selection) result.remaining.push_back(host.item_elements(item));
    return result;
}

}  // namespace torvel::host
