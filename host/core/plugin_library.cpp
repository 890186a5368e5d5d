#include "plugin_library.h"

#include <dlfcn.h>

#include <algorithm>
#include <system_error>

#include <xsi_pluginregistrar.h>

#include "elf_exports.h"
#include "errors.h"
#include "log.h"
#include "text.h"

namespace torvel::host {

namespace fs = std::filesystem;

namespace {

// Every way a library fails to become a plug-in.
HostError load_error(const std::string& message) { return HostError(message, {}, ErrorCode::plugin_load); }

constexpr CallbackKind kCallbacks[] = {
    {"Init", true, CallbackForm::const_status},    {"Unload", true, CallbackForm::const_status},
    {"Reload", true, CallbackForm::const_status},  {"Term", true, CallbackForm::const_status},
    {"Match", true, CallbackForm::boolean},        {"Applicable", true, CallbackForm::boolean},
    {"Subset", true, CallbackForm::boolean},       {"Define", false, CallbackForm::status},
    {"DefineLayout", false, CallbackForm::status}, {"PPGEvent", false, CallbackForm::status},
};

bool contains(const std::vector<std::string>& v, std::string_view s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

using LoadPluginFn = XSI::CStatus (*)(XSI::PluginRegistrar&);
using UnloadPluginFn = XSI::CStatus (*)(const XSI::PluginRegistrar&);

}  // namespace

const CallbackKind* callback_kind(bool filter, std::string_view name) {
    for (const CallbackKind& k : kCallbacks)
        if (k.filter == filter && name == k.name) return &k;
    return nullptr;
}

std::string status_text(const XSI::CStatus& status) { return std::to_string(static_cast<long>(status.GetCode())); }

const Callback* ItemInfo::find(const std::string& callback) const {
    auto it = callbacks.find(callback);
    return it == callbacks.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------------------------------
// PluginLibrary

PluginLibrary::PluginLibrary(fs::path path) : path_(std::move(path)) {
    if (path_.empty()) throw load_error("the plug-in path is empty");
    // A bare file name would make dlopen search the library path; the user named a file, so open that one.
    if (!path_.has_parent_path()) {
        std::error_code ec;
        fs::path abs = fs::absolute(path_, ec);
        if (ec) throw load_error(path_.string() + ": cannot make the path absolute: " + ec.message());
        path_ = std::move(abs);
    }
    const std::string name = path_.string();
    std::error_code ec;
    const fs::file_status st = fs::status(path_, ec);
    if (ec || !fs::exists(st)) throw load_error(name + ": no such file");
    if (fs::is_directory(st)) throw load_error(name + ": is a folder");
    if (!fs::is_regular_file(st)) throw load_error(name + ": not a regular file");

    dlerror();
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* err = dlerror();
        throw load_error(name + ": not a loadable library: " + (err ? err : "unknown error"));
    }
    try {
        exports_ = exported_functions(path_);
    } catch (...) {
        dlclose(handle_);
        handle_ = nullptr;
        throw;
    }
    // Only the library's own exports count: dlsym on the handle would also search its dependencies.
    if (!contains(exports_, "XSILoadPlugin") || !dlsym(handle_, "XSILoadPlugin")) {
        dlclose(handle_);
        handle_ = nullptr;
        throw load_error(name + ": not a plug-in: no XSILoadPlugin entry point");
    }
}

PluginLibrary::~PluginLibrary() {
    forget_registration();
    if (handle_) dlclose(handle_);
}

void PluginLibrary::forget_registration() {
    if (!store_) return;
    Store& store = *store_;
    if (auto* reg = store.find_as<RegistrarObject>(registrar_)) {
        std::vector<CRef> items = std::move(reg->items);
        reg->items.clear();
        for (const CRef& item : items)
            if (store.find(item.GetHandle())) store.remove(item);
        store.remove(registrar_);
    }
    registrar_ = CRef();
    items_.clear();
    store_ = nullptr;
}

std::wstring PluginLibrary::name() const {
    if (!store_) return {};
    const auto* reg = store_->find_as<RegistrarObject>(registrar_);
    return reg ? reg->name : std::wstring();
}

const ItemInfo* PluginLibrary::find_item(std::wstring_view name) const {
    for (const ItemInfo& item : items_)
        if (iequals(item.name, name)) return &item;
    return nullptr;
}

void PluginLibrary::load(Store& store, Log& log, const std::function<bool(std::wstring_view)>& name_taken) {
    const std::string lib = path_.string();
    if (store_) throw load_error(lib + ": already registered with the host");

    RegistrarObject& reg_obj = store.make<RegistrarObject>();
    reg_obj.filename = from_utf8(lib);
    registrar_ = reg_obj.self;
    store_ = &store;

    auto entry = function_at<LoadPluginFn>(dlsym(handle_, "XSILoadPlugin"));
    XSI::CStatus status;
    try {
        XSI::PluginRegistrar registrar(registrar_);
        status = entry(registrar);
    } catch (const std::exception& e) {
        forget_registration();
        throw load_error(lib + ": XSILoadPlugin threw: " + e.what());
    } catch (...) {
        forget_registration();
        throw load_error(lib + ": XSILoadPlugin threw an unknown exception");
    }
    if (status.GetCode() != XSI::CStatus::OK) {
        forget_registration();
        throw load_error(lib + ": XSILoadPlugin failed (code " + status_text(status) + ")");
    }

    auto* reg = store.find_as<RegistrarObject>(registrar_);
    if (!reg) {
        forget_registration();
        throw load_error(lib + ": the plug-in's registrar vanished during XSILoadPlugin");
    }
    std::vector<CRef> kept, refused;
    for (const CRef& ref : reg->items) {
        const auto* obj = store.find_as<PluginItemObject>(ref);
        if (!obj) continue;
        const std::wstring wlib = from_utf8(lib);
        if (obj->name.empty()) {
            log.add(XSI::siWarningMsg, wlib + L": an item with an empty name is ignored");
            refused.push_back(ref);
            continue;
        }
        if (find_item(obj->name) || name_taken(obj->name)) {
            log.add(XSI::siWarningMsg, wlib + L": \"" + obj->name + L"\" is already registered; this item is ignored");
            refused.push_back(ref);
            continue;
        }
        ItemInfo info;
        info.name = obj->name;
        info.is_filter = obj->is_filter();
        info.filter_type = obj->filter_type;
        info.item = ref;

        const std::string prefix = to_utf8(info.name);
        for (const CallbackKind& kind : kCallbacks) {
            if (kind.filter != info.is_filter) continue;
            const std::string suffix = std::string("_") + kind.name;
            const std::string exact = prefix + suffix;
            std::vector<const std::string*> matches;
            if (contains(exports_, exact)) {
                matches.push_back(&exact);
            } else {
                // The host finds callbacks whatever the case of their item prefix; the callback part
                // must match exactly.
                for (const std::string& e : exports_)
                    if (e.size() == exact.size() && e.ends_with(suffix) &&
                        iequals(std::string_view(e).substr(0, prefix.size()), prefix))
                        matches.push_back(&e);
            }
            if (matches.empty()) continue;
            if (matches.size() > 1) {
                std::wstring names;
                for (const std::string* m : matches) names += (names.empty() ? L"" : L", ") + from_utf8(*m);
                log.add(XSI::siWarningMsg, wlib + L": callback " + info.name + from_utf8(suffix) + L" is ambiguous (" +
                                               names + L"); none is used");
                continue;
            }
            if (void* address = dlsym(handle_, matches.front()->c_str()))
                info.callbacks[kind.name] = Callback{*matches.front(), address};
        }
        items_.push_back(std::move(info));
        kept.push_back(ref);
    }
    reg->items = std::move(kept);
    for (const CRef& ref : refused) store.remove(ref);
}

void PluginLibrary::unload(Log& log) {
    if (!handle_ || !contains(exports_, "XSIUnloadPlugin")) return;
    void* address = dlsym(handle_, "XSIUnloadPlugin");
    if (!address) return;
    const std::wstring lib = from_utf8(path_.string());
    try {
        const XSI::PluginRegistrar registrar(registrar_);
        const XSI::CStatus status = function_at<UnloadPluginFn>(address)(registrar);
        if (status.GetCode() != XSI::CStatus::OK)
            log.add(XSI::siWarningMsg,
                    lib + L": XSIUnloadPlugin failed (code " + from_utf8(status_text(status)) + L")");
    } catch (const std::exception& e) {
        log.add(XSI::siErrorMsg, lib + L": XSIUnloadPlugin threw: " + from_utf8(e.what()));
    } catch (...) {
        log.add(XSI::siErrorMsg, lib + L": XSIUnloadPlugin threw an unknown exception");
    }
}

}  // namespace torvel::host
