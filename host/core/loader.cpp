#include "loader.h"

#include <dlfcn.h>
#include <elf.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <fstream>
#include <system_error>
#include <unordered_set>

#include "host.h"

namespace torvel::host {

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------------------------------
// ELF reading. Every offset and size in the file is untrusted: each is checked against the image size
// before it is used, and no buffer larger than the file (or than kMaxTable) is ever allocated.

constexpr std::uint64_t kMaxTable = 64u << 20;

class Image {
public:
    virtual ~Image() = default;
    virtual std::uint64_t size() const = 0;
    // Copies `n` bytes at `offset`; the caller has checked the range.
    virtual void copy(std::uint64_t offset, std::size_t n, void* out) const = 0;
};

class MemoryImage final : public Image {
public:
    explicit MemoryImage(std::span<const unsigned char> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    void copy(std::uint64_t offset, std::size_t n, void* out) const override {
        if (n) std::memcpy(out, bytes_.data() + offset, n);
    }

private:
    std::span<const unsigned char> bytes_;
};

class FileImage final : public Image {
public:
    FileImage(const fs::path& path, const std::string& name) : name_(name) {
        std::error_code ec;
        const fs::file_status st = fs::status(path, ec);
        if (ec || !fs::exists(st)) throw HostError(name + ": no such file");
        if (!fs::is_regular_file(st)) throw HostError(name + ": not a regular file");
        size_ = fs::file_size(path, ec);
        if (ec) throw HostError(name + ": cannot read: " + ec.message());
        in_.open(path, std::ios::binary);
        if (!in_) throw HostError(name + ": cannot open for reading");
    }
    std::uint64_t size() const override { return size_; }
    void copy(std::uint64_t offset, std::size_t n, void* out) const override {
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        in_.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
        if (!in_ || static_cast<std::size_t>(in_.gcount()) != n) throw HostError(name_ + ": read error");
    }

private:
    std::string name_;
    std::uint64_t size_ = 0;
    mutable std::ifstream in_;
};

bool in_bounds(const Image& img, std::uint64_t offset, std::uint64_t n) {
    return offset <= img.size() && n <= img.size() - offset;
}

template <class T>
T read_struct(const Image& img, std::uint64_t offset, const std::string& name, const char* what) {
    if (!in_bounds(img, offset, sizeof(T)))
        throw HostError(name + ": truncated ELF file (" + what + " at offset " + std::to_string(offset) +
                        " lies beyond the end of the file)");
    T value;
    img.copy(offset, sizeof(T), &value);
    return value;
}

std::vector<char> read_bytes(const Image& img, std::uint64_t offset, std::uint64_t n, const std::string& name,
                             const char* what) {
    if (!in_bounds(img, offset, n))
        throw HostError(name + ": truncated ELF file (" + what + " at offset " + std::to_string(offset) + ", " +
                        std::to_string(n) + " bytes, lies beyond the end of the file)");
    if (n > kMaxTable) throw HostError(name + ": " + what + " is implausibly large (" + std::to_string(n) + " bytes)");
    std::vector<char> bytes(static_cast<std::size_t>(n));
    img.copy(offset, bytes.size(), bytes.data());
    return bytes;
}

std::vector<std::string> list_exports(const Image& img, const std::string& name) {
    // The magic number first, so that a short text file is called what it is rather than truncated.
    unsigned char magic[SELFMAG] = {};
    if (img.size() >= SELFMAG) img.copy(0, SELFMAG, magic);
    if (img.size() < SELFMAG || std::memcmp(magic, ELFMAG, SELFMAG) != 0)
        throw HostError(name + ": not an ELF file (bad magic number)");
    const auto eh = read_struct<Elf64_Ehdr>(img, 0, name, "ELF header");
    if (eh.e_ident[EI_CLASS] != ELFCLASS64) throw HostError(name + ": not a 64-bit ELF file");
    constexpr unsigned char native = std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
    if (eh.e_ident[EI_DATA] != native) throw HostError(name + ": ELF file of the wrong byte order");
    if (eh.e_type != ET_DYN)
        throw HostError(name + ": not an ELF shared object (file type " + std::to_string(eh.e_type) + ")");
    if (eh.e_shoff == 0) throw HostError(name + ": ELF file has no section headers");
    if (eh.e_shentsize != sizeof(Elf64_Shdr))
        throw HostError(name + ": bad ELF section header size " + std::to_string(eh.e_shentsize));

    std::uint64_t count = eh.e_shnum;
    if (count == 0) {  // extended numbering: the real count is in section 0
        count = read_struct<Elf64_Shdr>(img, eh.e_shoff, name, "section header 0").sh_size;
    }
    if (!in_bounds(img, eh.e_shoff, 0) || count > (img.size() - eh.e_shoff) / sizeof(Elf64_Shdr))
        throw HostError(name + ": truncated ELF file (" + std::to_string(count) +
                        " section headers do not fit in the file)");
    std::vector<Elf64_Shdr> sections(static_cast<std::size_t>(count));
    if (!sections.empty()) img.copy(eh.e_shoff, sections.size() * sizeof(Elf64_Shdr), sections.data());

    auto dynsym =
        std::find_if(sections.begin(), sections.end(), [](const Elf64_Shdr& s) { return s.sh_type == SHT_DYNSYM; });
    if (dynsym == sections.end()) return {};  // exports nothing
    if (dynsym->sh_entsize != sizeof(Elf64_Sym))
        throw HostError(name + ": bad dynamic symbol entry size " + std::to_string(dynsym->sh_entsize));
    if (dynsym->sh_link == 0 || dynsym->sh_link >= sections.size())
        throw HostError(name + ": dynamic symbol table links to no string table (section " +
                        std::to_string(dynsym->sh_link) + ")");
    const Elf64_Shdr& strtab = sections[dynsym->sh_link];
    if (strtab.sh_type != SHT_STRTAB)
        throw HostError(name + ": dynamic symbol table links to section " + std::to_string(dynsym->sh_link) +
                        ", which is not a string table");

    const std::vector<char> strings = read_bytes(img, strtab.sh_offset, strtab.sh_size, name, "dynamic string table");
    const std::vector<char> symbytes =
        read_bytes(img, dynsym->sh_offset, dynsym->sh_size, name, "dynamic symbol table");
    const std::size_t nsyms = symbytes.size() / sizeof(Elf64_Sym);

    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    for (std::size_t i = 1; i < nsyms; ++i) {  // entry 0 is the reserved null symbol
        Elf64_Sym sym;
        std::memcpy(&sym, symbytes.data() + i * sizeof(Elf64_Sym), sizeof sym);
        const unsigned type = ELF64_ST_TYPE(sym.st_info);
        const unsigned bind = ELF64_ST_BIND(sym.st_info);
        const unsigned vis = ELF64_ST_VISIBILITY(sym.st_other);
        if (type != STT_FUNC || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
        if (sym.st_shndx == SHN_UNDEF || vis == STV_HIDDEN || vis == STV_INTERNAL) continue;
        if (sym.st_name >= strings.size())
            throw HostError(name + ": symbol " + std::to_string(i) + " has a name outside the string table");
        const char* begin = strings.data() + sym.st_name;
        const char* end = static_cast<const char*>(std::memchr(begin, '\0', strings.size() - sym.st_name));
        if (!end) throw HostError(name + ": symbol " + std::to_string(i) + " has an unterminated name");
        std::string s(begin, end);
        if (!s.empty() && seen.insert(s).second) out.push_back(std::move(s));
    }
    return out;
}

// ---------------------------------------------------------------------------------------------------

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
wchar_t wfold(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}
bool iequals(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return wfold(x) == wfold(y); });
}

bool contains(const std::vector<std::string>& v, std::string_view s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

enum class CallbackForm { const_status, boolean, status };

struct CallbackKind {
    const char* name;
    bool filter;
    CallbackForm form;
};

constexpr CallbackKind kCallbacks[] = {
    {"Init", true, CallbackForm::const_status},    {"Unload", true, CallbackForm::const_status},
    {"Reload", true, CallbackForm::const_status},  {"Term", true, CallbackForm::const_status},
    {"Match", true, CallbackForm::boolean},        {"Applicable", true, CallbackForm::boolean},
    {"Subset", true, CallbackForm::boolean},       {"Define", false, CallbackForm::status},
    {"DefineLayout", false, CallbackForm::status}, {"PPGEvent", false, CallbackForm::status},
};

const CallbackKind* callback_kind(bool filter, std::string_view name) {
    for (const CallbackKind& k : kCallbacks)
        if (k.filter == filter && name == k.name) return &k;
    return nullptr;
}

using LoadPluginFn = XSI::CStatus (*)(XSI::PluginRegistrar&);
using UnloadPluginFn = XSI::CStatus (*)(const XSI::PluginRegistrar&);

template <class Fn>
Fn as_function(void* address) {
    return reinterpret_cast<Fn>(address);
}

std::string code_text(const XSI::CStatus& st) { return std::to_string(static_cast<long>(st.GetCode())); }

bool same_file(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) return true;
    return fs::absolute(a, ec).lexically_normal() == fs::absolute(b, ec).lexically_normal();
}

// Keeps a store scope open for exactly one callback, also when the callback throws.
class ScopeGuard {
public:
    explicit ScopeGuard(Store& store) : store_(store) { store_.open_scope(); }
    ~ScopeGuard() { store_.close_scope(); }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

private:
    Store& store_;
};

}  // namespace

std::vector<std::string> exported_functions(const fs::path& path) {
    const std::string name = path.string();
    FileImage img(path, name);
    return list_exports(img, name);
}

std::vector<std::string> exported_functions(std::span<const unsigned char> image, const std::string& name) {
    MemoryImage img(image);
    return list_exports(img, name);
}

const Callback* ItemInfo::find(const std::string& callback) const {
    auto it = callbacks.find(callback);
    return it == callbacks.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------------------------------
// PluginLibrary

PluginLibrary::PluginLibrary(fs::path path) : path_(std::move(path)) {
    // A bare file name would make dlopen search the library path; the user named a file, so open that one.
    if (!path_.has_parent_path()) {
        std::error_code ec;
        fs::path abs = fs::absolute(path_, ec);
        if (ec) throw HostError(path_.string() + ": cannot make the path absolute: " + ec.message());
        path_ = std::move(abs);
    }
    const std::string name = path_.string();
    std::error_code ec;
    const fs::file_status st = fs::status(path_, ec);
    if (ec || !fs::exists(st)) throw HostError(name + ": no such file");
    if (!fs::is_regular_file(st)) throw HostError(name + ": not a regular file");

    dlerror();
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* err = dlerror();
        throw HostError(name + ": not a loadable library: " + (err ? err : "unknown error"));
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
        throw HostError(name + ": not a plug-in: no XSILoadPlugin entry point");
    }
}

PluginLibrary::~PluginLibrary() {
    forget_registration();
    if (handle_) dlclose(handle_);
}

void PluginLibrary::forget_registration() {
    if (!host_) return;
    Store& store = host_->store();
    if (auto* reg = store.find_as<RegistrarObject>(registrar_)) {
        std::vector<CRef> items = std::move(reg->items);
        reg->items.clear();
        for (const CRef& item : items)
            if (store.find(item.GetHandle())) store.remove(item);
        store.remove(registrar_);
    }
    registrar_ = CRef();
    items_.clear();
    host_ = nullptr;
}

std::wstring PluginLibrary::name() const {
    if (!host_) return {};
    const auto* reg = host_->store().find_as<RegistrarObject>(registrar_);
    return reg ? reg->name : std::wstring();
}

const ItemInfo* PluginLibrary::find_item(std::wstring_view name) const {
    for (const ItemInfo& item : items_)
        if (iequals(item.name, name)) return &item;
    return nullptr;
}

void PluginLibrary::load(Host& host) {
    load(host, [&host](std::wstring_view n) { return host.plugins().find_item(n) != nullptr; });
}

void PluginLibrary::load(Host& host, const std::function<bool(std::wstring_view)>& name_taken) {
    const std::string lib = path_.string();
    if (host_) throw HostError(lib + ": already registered with the host");

    Store& store = host.store();
    RegistrarObject& reg_obj = store.make<RegistrarObject>();
    reg_obj.filename = from_utf8(lib);
    registrar_ = reg_obj.self;
    host_ = &host;

    auto entry = as_function<LoadPluginFn>(dlsym(handle_, "XSILoadPlugin"));
    XSI::CStatus status;
    try {
        XSI::PluginRegistrar registrar(registrar_);
        status = entry(registrar);
    } catch (const std::exception& e) {
        forget_registration();
        throw HostError(lib + ": XSILoadPlugin threw: " + e.what());
    } catch (...) {
        forget_registration();
        throw HostError(lib + ": XSILoadPlugin threw an unknown exception");
    }
    if (status.GetCode() != XSI::CStatus::OK) {
        forget_registration();
        throw HostError(lib + ": XSILoadPlugin failed (code " + code_text(status) + ")");
    }

    auto* reg = store.find_as<RegistrarObject>(registrar_);
    if (!reg) {
        forget_registration();
        throw HostError(lib + ": the plug-in's registrar vanished during XSILoadPlugin");
    }
    std::vector<CRef> kept, refused;
    for (const CRef& ref : reg->items) {
        const auto* obj = store.find_as<PluginItemObject>(ref);
        if (!obj) continue;
        const std::wstring wlib = from_utf8(lib);
        if (obj->name.empty()) {
            host.log().add(XSI::siWarningMsg, wlib + L": an item with an empty name is ignored");
            refused.push_back(ref);
            continue;
        }
        if (find_item(obj->name) || name_taken(obj->name)) {
            host.log().add(XSI::siWarningMsg,
                           wlib + L": \"" + obj->name + L"\" is already registered; this item is ignored");
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
                host.log().add(XSI::siWarningMsg, wlib + L": callback " + info.name + from_utf8(suffix) +
                                                      L" is ambiguous (" + names + L"); none is used");
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

void PluginLibrary::unload(Host& host) {
    if (!handle_ || !contains(exports_, "XSIUnloadPlugin")) return;
    void* address = dlsym(handle_, "XSIUnloadPlugin");
    if (!address) return;
    const std::wstring lib = from_utf8(path_.string());
    try {
        const XSI::PluginRegistrar registrar(registrar_);
        const XSI::CStatus status = as_function<UnloadPluginFn>(address)(registrar);
        if (status.GetCode() != XSI::CStatus::OK)
            host.log().add(XSI::siWarningMsg,
                           lib + L": XSIUnloadPlugin failed (code " + from_utf8(code_text(status)) + L")");
    } catch (const std::exception& e) {
        host.log().add(XSI::siErrorMsg, lib + L": XSIUnloadPlugin threw: " + from_utf8(e.what()));
    } catch (...) {
        host.log().add(XSI::siErrorMsg, lib + L": XSIUnloadPlugin threw an unknown exception");
    }
}

// ---------------------------------------------------------------------------------------------------
// PluginManager

PluginManager::~PluginManager() {
    // The host is going away: close the libraries, last loaded first, without calling into them
    // (shutdown() is the orderly way out).
    while (!libraries_.empty()) libraries_.pop_back();
}

void PluginManager::call_filters(const PluginLibrary& lib, const std::string& callback) {
    for (const ItemInfo& item : lib.items()) {
        if (!item.is_filter) continue;
        try {
            CallResult r = call(item, callback, CallRequest{});
            if (r.called && r.status.GetCode() != XSI::CStatus::OK)
                host_.log().add(XSI::siWarningMsg, item.name + L"_" + from_utf8(callback) + L" returned code " +
                                                       from_utf8(code_text(r.status)));
        } catch (const std::exception& e) {
            host_.log().add(XSI::siErrorMsg, from_utf8(e.what()));
        }
    }
}

PluginLibrary& PluginManager::load(const fs::path& path) {
    for (const auto& lib : libraries_)
        if (same_file(lib->path(), path)) throw HostError(path.string() + ": already loaded");
    auto lib = std::make_unique<PluginLibrary>(path);
    lib->load(host_, [this](std::wstring_view n) { return find_item(n) != nullptr; });
    libraries_.push_back(std::move(lib));
    PluginLibrary& loaded = *libraries_.back();
    call_filters(loaded, "Init");
    return loaded;
}

void PluginManager::unload(std::wstring_view name_or_path) {
    PluginLibrary* lib = find_library(name_or_path);
    if (!lib) throw HostError("no loaded plug-in \"" + to_utf8(name_or_path) + "\"");
    call_filters(*lib, "Unload");
    lib->unload(host_);
    // Callbacks may have loaded or unloaded other libraries; find this one again by address.
    auto it = std::find_if(libraries_.begin(), libraries_.end(), [lib](const auto& p) { return p.get() == lib; });
    if (it != libraries_.end()) libraries_.erase(it);
}

void PluginManager::reload(std::wstring_view name_or_path) {
    PluginLibrary* lib = find_library(name_or_path);
    if (!lib) throw HostError("no loaded plug-in \"" + to_utf8(name_or_path) + "\"");
    const fs::path path = lib->path();
    call_filters(*lib, "Reload");
    lib->unload(host_);
    auto it = std::find_if(libraries_.begin(), libraries_.end(), [lib](const auto& p) { return p.get() == lib; });
    std::size_t index = libraries_.size();
    if (it != libraries_.end()) {
        index = static_cast<std::size_t>(it - libraries_.begin());
        libraries_.erase(it);  // closes the library, freeing its names for the new registration
    }
    auto fresh = std::make_unique<PluginLibrary>(path);
    fresh->load(host_, [this](std::wstring_view n) { return find_item(n) != nullptr; });
    index = std::min(index, libraries_.size());
    PluginLibrary& loaded =
        **libraries_.insert(libraries_.begin() + static_cast<std::ptrdiff_t>(index), std::move(fresh));
    call_filters(loaded, "Init");
}

void PluginManager::shutdown() {
    while (!libraries_.empty()) {
        PluginLibrary* lib = libraries_.back().get();
        call_filters(*lib, "Term");
        lib->unload(host_);
        auto it = std::find_if(libraries_.begin(), libraries_.end(), [lib](const auto& p) { return p.get() == lib; });
        if (it != libraries_.end()) libraries_.erase(it);
    }
}

PluginLibrary* PluginManager::find_library(std::wstring_view name_or_path) {
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

const ItemInfo* PluginManager::find_item(std::wstring_view name) const {
    for (const auto& lib : libraries_)
        if (const ItemInfo* item = lib->find_item(name)) return item;
    return nullptr;
}

PluginManager::CallResult PluginManager::call(const ItemInfo& item, const std::string& callback,
                                              const CallRequest& request) {
    const CallbackKind* kind = callback_kind(item.is_filter, callback);
    if (!kind)
        throw HostError(to_utf8(item.name) + ": a " + (item.is_filter ? "filter" : "property") + " has no callback \"" +
                        callback + "\"");
    CallResult result;
    const Callback* cb = item.find(callback);
    if (!cb) return result;

    Store& store = host_.store();
    ScopeGuard scope(store);
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
                result.status = as_function<ConstStatusCallback>(cb->address)(context);
                break;
            case CallbackForm::boolean: result.returned = as_function<BoolCallback>(cb->address)(context); break;
            case CallbackForm::status: {
                CRef arg = context;
                result.status = as_function<StatusCallback>(cb->address)(arg);
                break;
            }
        }
    } catch (const std::exception& e) {
        throw HostError(cb->exported_name + " threw: " + e.what());
    } catch (...) {
        throw HostError(cb->exported_name + " threw an unknown exception");
    }
    result.called = true;
    if (const auto* after = store.find_as<ContextObject>(context)) {
        for (const auto& [name, value] : after->attributes) result.attributes[name] = value;
        for (const auto& [name, refs] : after->array_attributes) result.array_attributes[name] = refs;
    }
    return result;
}

}  // namespace torvel::host
