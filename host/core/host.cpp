#include "host.h"

#include <algorithm>

#include "host_commands.h"
#include "plugin_registry.h"
#include "unique_names.h"

namespace torvel::host {

Host::Host() : HostLink(store_), plugins_(std::make_unique<PluginRegistry>(*this)) {
    application_ = store_.make<Object>(XSI::siApplicationID, L"Application").self;
    desktop_ = store_.make<Object>(XSI::siDesktopID, L"Desktop").self;
    register_host_commands(*this);
    new_scene();
}

Host::~Host() {
    // The libraries go first: their registrations live in the store.
    plugins_.reset();
}

ScriptResult Host::execute_script(std::wstring_view code, std::wstring_view language) {
    script_runs_.push_back(ScriptRun{std::wstring(code), std::wstring(language)});
    return run_script(commands_, log_, code, language);
}

SceneRoot& Host::scene() { return *store_.find_as<SceneRoot>(root_); }
const SceneRoot& Host::root() const { return *store_.find_as<SceneRoot>(root_); }

void Host::new_scene() {
    for (const CRef& ref : scene_objects_) store_.remove(ref);
    scene_objects_.clear();
    selection_.clear();
    root_ = store_.make<SceneRoot>().self;
    scene_objects_.push_back(root_);
}

NameIndex* Host::names_under(const CRef& parent) {
    if (parent == root_) return &scene().names;
    if (auto* m = store_.find_as<MeshObject>(parent)) return &m->property_names;
    return nullptr;
}

namespace {

// A registered property kind of exactly that name (lookups by name match it exactly).
bool is_kind_name(const PluginRegistry& plugins, std::wstring_view name) {
    for (const auto& lib : plugins.libraries())
        for (const ItemInfo& item : lib->items())
            if (!item.is_filter && item.name == name) return true;
    return false;
}

}  // namespace

std::vector<std::wstring> Host::unique_names(NameIndex& names, std::span<const std::wstring> wanted,
                                             std::wstring_view own_kind) {
    const bool under_root = &names == &scene().names;
    return torvel::unique_names<std::wstring>(
        wanted,
        [&](const std::wstring& n) {
            return names.find(store_, n) != CRef() || (under_root && n != own_kind && is_kind_name(*plugins_, n));
        },
        [&](const std::wstring& base) -> std::uint32_t& { return names.next_number(base); });
}

namespace {

std::string in_quotes(const std::wstring& name) { return "\"" + to_utf8(name) + "\""; }
std::wstring in_wide_quotes(const std::wstring& name) { return L"\"" + name + L"\""; }

Mesh checked_mesh(const std::wstring& name, PolygonMesh&& polygons) {
    Mesh mesh(std::move(polygons));
    if (mesh.positions.size() % 3 != 0) throw HostError("mesh " + in_quotes(name) + ": positions are not xyz triples");
    try {
        mesh.build_edges();
    } catch (const std::invalid_argument& e) {
        throw HostError("mesh " + in_quotes(name) + ": " + e.what());
    }
    return mesh;
}

}  // namespace

std::vector<CRef> Host::add_meshes(std::vector<std::wstring> wanted, std::vector<PolygonMesh>&& meshes) {
    if (wanted.size() != meshes.size())
        throw HostError(std::to_string(wanted.size()) + " names for " + std::to_string(meshes.size()) + " meshes");
    std::vector<Mesh> built;
    built.reserve(meshes.size());
    for (std::size_t i = 0; i < meshes.size(); ++i) {
        if (wanted[i].empty()) wanted[i] = L"mesh";
        built.push_back(checked_mesh(wanted[i], std::move(meshes[i])));
    }
    scene().names.reserve_more(wanted.size());
    std::vector<std::wstring> names = unique_names(scene().names, wanted);
    std::vector<CRef> added;
    added.reserve(meshes.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        // A repeated name is numbered without a word, as the file's own names are kept apart anyway; a
        // name taken from a plug-in is said, since nothing in the file explains it.
        if (names[i] != wanted[i] && is_kind_name(*plugins_, wanted[i]))
            log_.add(XSI::siWarningMsg, L"the mesh " + in_wide_quotes(wanted[i]) + L" is named " +
                                            in_wide_quotes(names[i]) +
                                            L": a loaded plug-in registers a property of that name");
        MeshObject& obj = store_.make<MeshObject>(std::move(names[i]));
        obj.mesh = std::move(built[i]);
        store_.publish(obj);
        obj.parent = root_;
        SceneRoot& root = scene();
        root.children.push_back(obj.self);
        root.names.set(obj.name, obj.self);
        scene_objects_.push_back(obj.self);
        added.push_back(obj.self);
    }
    return added;
}

CRef Host::add_mesh(std::wstring name, PolygonMesh&& mesh) {
    std::vector<std::wstring> names(1, std::move(name));
    std::vector<PolygonMesh> one(1);
    one[0] = std::move(mesh);
    return add_meshes(std::move(names), std::move(one)).front();
}

CRef Host::replace_mesh(const CRef& object, PolygonMesh&& polygons, PolygonMesh* replaced) {
    auto* old = store_.find_as<MeshObject>(object);
    if (!old) throw HostError("not a polygon-mesh object: \"" + to_utf8(full_name(object)) + "\"");
    Mesh mesh = checked_mesh(old->name, std::move(polygons));
    const CRef old_ref = old->self;
    MeshObject& obj = store_.make<MeshObject>(old->name);
    obj.mesh = std::move(mesh);
    store_.publish(obj);
    obj.parent = old->parent;
    obj.properties = std::move(old->properties);
    obj.property_names = std::move(old->property_names);
    for (const CRef& prop : obj.properties)
        if (Object* p = store_.find(prop.GetHandle())) p->parent = obj.self;
    SceneRoot& root = scene();
    std::replace(root.children.begin(), root.children.end(), old_ref, obj.self);
    if (NameIndex* names = names_under(obj.parent)) names->set(obj.name, obj.self);
    scene_objects_.push_back(obj.self);
    std::erase_if(selection_, [&](CRef& ref) {
        if (ref == old_ref) {
            ref = obj.self;
            return false;
        }
        const auto* item = store_.find_as<SelectionItem>(ref);
        return item && item->object == old_ref;
    });
    if (replaced) {
        // The buffers move with the vectors, so the table's view of them stays good until the removal.
        replaced->positions = std::move(old->mesh.positions);
        replaced->offsets = std::move(old->mesh.offsets);
        replaced->indices = std::move(old->mesh.indices);
    }
    store_.remove(old_ref);
    return obj.self;
}

CRef Host::add_empty_property(const std::wstring& name, const std::wstring& kind, const CRef& target) {
    std::vector<CRef>* list = nullptr;
    if (auto* r = store_.find_as<SceneRoot>(target))
        list = &r->properties;
    else if (auto* m = store_.find_as<MeshObject>(target))
        list = &m->properties;
    NameIndex* names = names_under(target);
    if (!list || !names) throw HostError("\"" + to_utf8(full_name(target)) + "\" cannot hold properties");
    PropertyObject& prop = store_.make<PropertyObject>(unique_names(*names, {&name, 1}, kind).front(), kind);
    prop.parent = target;
    list->push_back(prop.self);
    names->set(prop.name, prop.self);
    scene_objects_.push_back(prop.self);
    return prop.self;
}

CRef Host::add_property(const std::wstring& kind, const CRef& target) {
    const ItemInfo* item = plugins_->find_item(kind);
    if (!item || item->is_filter) throw HostError("no property kind \"" + to_utf8(kind) + "\" is registered");
    const CRef ref = add_empty_property(item->name, item->name, target);
    PluginRegistry::CallRequest request;
    request.source = ref;
    plugins_->call(*item, "Define", request);
    return ref;
}

void Host::give_name(Object& obj, NameIndex& names, const std::wstring& wanted) {
    const auto* prop = store_.find_as<PropertyObject>(obj.self);
    std::wstring fresh = unique_names(names, {&wanted, 1}, prop ? std::wstring_view(prop->kind) : L"").front();
    names.erase(obj.name, obj.self);
    obj.name = std::move(fresh);
    names.set(obj.name, obj.self);
}

bool Host::rename(const CRef& object, const std::wstring& name) {
    Object* obj = store_.find(object.GetHandle());
    if (!obj) return false;
    NameIndex* names = names_under(obj->parent);
    if (!names) {
        obj->name = name;
        return true;
    }
    if (name.empty()) return false;
    if (obj->name != name) give_name(*obj, *names, name);
    return true;
}

void Host::free_property_kind_names() {
    for (const auto& lib : plugins_->libraries()) {
        for (const ItemInfo& item : lib->items()) {
            if (item.is_filter) continue;
            NameIndex& names = scene().names;
            const CRef holder = names.find(store_, item.name);
            if (holder == CRef()) continue;
            if (const auto* prop = store_.find_as<PropertyObject>(holder); prop && prop->kind == item.name) continue;
            const std::wstring was = full_name(holder);
            Object& obj = *store_.find(holder.GetHandle());
            give_name(obj, names, item.name);
            log_.add(XSI::siWarningMsg, in_wide_quotes(was) + L" is renamed " + in_wide_quotes(obj.name) +
                                            L": the plug-in " + in_wide_quotes(lib->path().filename().wstring()) +
                                            L" registers a property of that name");
        }
    }
}

void Host::define_layout(const CRef& property) {
    PropertyObject* prop = store_.find_as<PropertyObject>(property);
    if (!prop) throw HostError("not a property: \"" + to_utf8(full_name(property)) + "\"");
    const ItemInfo* item = plugins_->find_item(prop->kind);
    if (!item) throw HostError("no property kind \"" + to_utf8(prop->kind) + "\" is registered");
    PluginRegistry::CallRequest request;
    request.source = layout_ref(property);
    plugins_->call(*item, "DefineLayout", request);
}

CRef Host::resolve(std::wstring_view name) const {
    const SceneRoot* r = store_.find_as<SceneRoot>(root_);
    if (!r || name.empty()) return {};
    // Dotted segments from the root, one at a time (no list of them is made: plug-ins resolve names
    // on every call); the leading "Scene_Root." is optional.
    std::size_t start = 0;
    std::wstring_view part;
    bool last = false;
    auto advance = [&] {
        const std::size_t dot = name.find(L'.', start);
        last = dot == std::wstring_view::npos;
        part = name.substr(start, last ? std::wstring_view::npos : dot - start);
        start = last ? name.size() : dot + 1;
    };
    advance();
    if (part == r->name) {
        if (last) return root_;
        advance();
    }
    for (CRef current = root_;;) {
        CRef next;
        if (current == root_)
            next = r->names.find(store_, part);
        else if (const auto* m = store_.find_as<MeshObject>(current))
            next = m->property_names.find(store_, part);
        else if (const auto* prop = store_.find_as<PropertyObject>(current))
            for (std::size_t p = 0; p < prop->params.size(); ++p)
                if (prop->params[p].script_name == part)
                    next = sub_ref(current, XSI::siParameterID, static_cast<std::uint32_t>(p));
        if (next == CRef()) return {};
        if (last) return next;
        if (next.GetHandle().classID == XSI::siParameterID) return {};
        current = next;
        advance();
    }
}

std::wstring Host::full_name(const CRef& ref) const {
    const CRef::Handle& h = ref.GetHandle();
    const Object* obj = store_.find(h);
    if (!obj) return {};
    std::wstring name = obj->name;
    if (h.classID == XSI::siParameterID) {
        if (auto* prop = store_.find_as<PropertyObject>(ref); prop && h.index < prop->params.size())
            return full_name(prop->self) + L"." + prop->params[h.index].script_name;
        return {};
    }
    if (h.classID == XSI::siPolygonFaceID || h.classID == XSI::siEdgeID || h.classID == XSI::siVertexID) {
        const wchar_t* tag = h.classID == XSI::siPolygonFaceID ? L".poly["
                             : h.classID == XSI::siEdgeID      ? L".edge["
                                                               : L".pnt[";
        return full_name(obj->self) + tag + std::to_wstring(h.index) + L"]";
    }
    if (h.classID == XSI::siPPGLayoutID) return full_name(obj->self) + L".PPGLayout";
    if (store_.find(obj->parent.GetHandle())) return full_name(obj->parent) + L"." + name;
    return name;
}

CRef Host::make_component_item(const CRef& mesh_object, siClassID component, std::span<const std::uint32_t> elements) {
    auto* obj = store_.find_as<MeshObject>(mesh_object);
    if (!obj) throw HostError("not a polygon-mesh object: \"" + to_utf8(full_name(mesh_object)) + "\"");
    if (component != XSI::siPolygonFaceID && component != XSI::siVertexID)
        throw HostError("only polygons and vertices can be selected");
    const std::uint32_t count =
        component == XSI::siPolygonFaceID ? obj->mesh.polygon_count() : obj->mesh.vertex_count();
    SubComponent& sub = store_.make<SubComponent>(mesh_object, component);
    scene_objects_.push_back(sub.self);
    if (elements.empty()) {
        sub.add_all(count);
    } else {
        for (std::uint32_t e : elements) {
            if (e >= count)
                throw HostError("\"" + to_utf8(obj->name) + "\" has no " +
                                (component == XSI::siPolygonFaceID ? "polygon " : "vertex ") + std::to_string(e));
            sub.add(e, count);
        }
    }
    SelectionItem& item = store_.make<SelectionItem>();
    item.object = mesh_object;
    item.subcomponent = sub.self;
    item.name = obj->name;
    scene_objects_.push_back(item.self);
    return item.self;
}

CRef Host::make_object_item(const CRef& object) {
    if (!store_.find(object.GetHandle())) throw HostError("no such object to select");
    return object;
}

std::vector<std::uint32_t> Host::item_elements(const CRef& item) const {
    if (auto* sel = store_.find_as<SelectionItem>(item))
        if (auto* sub = store_.find_as<SubComponent>(sel->subcomponent)) return sub->live_members();
    return {};
}

}  // namespace torvel::host
