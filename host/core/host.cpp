#include "host.h"

#include <algorithm>

#include "host_commands.h"
#include "plugin_registry.h"

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

SceneRoot& Host::root() { return *store_.find_as<SceneRoot>(root_); }
const SceneRoot& Host::root() const { return *store_.find_as<SceneRoot>(root_); }

void Host::new_scene() {
    for (const CRef& ref : scene_objects_) store_.remove(ref);
    scene_objects_.clear();
    selection_.clear();
    root_ = store_.make<SceneRoot>().self;
    scene_objects_.push_back(root_);
}

namespace {

// "name", then "name1", "name2", ... until `taken` says no.
template <class Taken>
std::wstring unique_name(const std::wstring& base, Taken taken) {
    if (!taken(base)) return base;
    for (unsigned n = 1;; ++n) {
        std::wstring candidate = base + std::to_wstring(n);
        if (!taken(candidate)) return candidate;
    }
}

}  // namespace

template <class Lists>
bool Host::name_taken(const Lists& lists, const std::wstring& name) const {
    for (const std::vector<CRef>* list : lists)
        for (const CRef& c : *list)
            if (const Object* o = store_.find(c.GetHandle()); o && o->name == name) return true;
    return false;
}

CRef Host::add_mesh(std::wstring name, PolygonMesh&& polygons) {
    if (name.empty()) name = L"mesh";
    const std::vector<CRef>* names[] = {&root().children, &root().properties};
    auto taken = [&](const std::wstring& n) { return name_taken(names, n); };
    Mesh mesh(std::move(polygons));
    if (mesh.positions.size() % 3 != 0)
        throw HostError("mesh \"" + to_utf8(name) + "\": positions are not xyz triples");
    try {
        mesh.build_edges();
    } catch (const std::invalid_argument& e) {
        throw HostError("mesh \"" + to_utf8(name) + "\": " + e.what());
    }
    MeshObject& obj = store_.make<MeshObject>(unique_name(name, taken));
    obj.mesh = std::move(mesh);
    store_.publish(obj);
    obj.parent = root_;
    root().children.push_back(obj.self);
    scene_objects_.push_back(obj.self);
    return obj.self;
}

CRef Host::replace_mesh(const CRef& object, PolygonMesh&& polygons, PolygonMesh* replaced) {
    auto* old = store_.find_as<MeshObject>(object);
    if (!old) throw HostError("not a polygon-mesh object: \"" + to_utf8(full_name(object)) + "\"");
    Mesh mesh(std::move(polygons));
    if (mesh.positions.size() % 3 != 0)
        throw HostError("mesh \"" + to_utf8(old->name) + "\": positions are not xyz triples");
    try {
        mesh.build_edges();
    } catch (const std::invalid_argument& e) {
        throw HostError("mesh \"" + to_utf8(old->name) + "\": " + e.what());
    }
    const CRef old_ref = old->self;
    MeshObject& obj = store_.make<MeshObject>(old->name);
    obj.mesh = std::move(mesh);
    store_.publish(obj);
    obj.parent = old->parent;
    obj.properties = std::move(old->properties);
    for (const CRef& prop : obj.properties)
        if (Object* p = store_.find(prop.GetHandle())) p->parent = obj.self;
    std::replace(root().children.begin(), root().children.end(), old_ref, obj.self);
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

CRef Host::add_property(const std::wstring& kind, const CRef& target) {
    const ItemInfo* item = plugins_->find_item(kind);
    if (!item || item->is_filter) throw HostError("no property kind \"" + to_utf8(kind) + "\" is registered");
    std::vector<CRef>* list = nullptr;
    if (auto* r = store_.find_as<SceneRoot>(target))
        list = &r->properties;
    else if (auto* m = store_.find_as<MeshObject>(target))
        list = &m->properties;
    if (!list) throw HostError("\"" + to_utf8(full_name(target)) + "\" cannot hold properties");
    // The root's children and properties share one namespace, as names resolve through both.
    std::vector<const std::vector<CRef>*> names{list};
    if (list == &root().properties) names.push_back(&root().children);
    auto taken = [&](const std::wstring& n) { return name_taken(names, n); };
    PropertyObject& prop = store_.make<PropertyObject>(unique_name(item->name, taken), item->name);
    prop.parent = target;
    const CRef ref = prop.self;
    list->push_back(ref);
    scene_objects_.push_back(ref);
    PluginRegistry::CallRequest request;
    request.source = ref;
    plugins_->call(*item, "Define", request);
    return ref;
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

namespace {

const std::vector<CRef>* properties_of(const Store& store, const CRef& ref) {
    if (auto* r = store.find_as<SceneRoot>(ref)) return &r->properties;
    if (auto* m = store.find_as<MeshObject>(ref)) return &m->properties;
    return nullptr;
}

}  // namespace

CRef Host::resolve(std::wstring_view name) const {
    // Walk dotted segments from the root; the leading "Scene_Root." is optional.
    std::vector<std::wstring_view> parts;
    for (std::size_t start = 0;;) {
        std::size_t dot = name.find(L'.', start);
        parts.push_back(name.substr(start, dot == std::wstring_view::npos ? std::wstring_view::npos : dot - start));
        if (dot == std::wstring_view::npos) break;
        start = dot + 1;
    }
    const SceneRoot* r = store_.find_as<SceneRoot>(root_);
    if (!r || name.empty()) return {};
    std::size_t i = 0;
    if (parts[0] == r->name) ++i;
    CRef current = root_;
    for (; i < parts.size(); ++i) {
        const std::wstring_view part = parts[i];
        CRef next;
        auto match = [&](const std::vector<CRef>& refs) {
            for (const CRef& c : refs)
                if (const Object* o = store_.find(c.GetHandle()); o && o->name == part) return c;
            return CRef();
        };
        if (current == root_) next = match(r->children);
        if (next == CRef())
            if (const auto* props = properties_of(store_, current)) next = match(*props);
        if (next == CRef()) {
            if (auto* prop = store_.find_as<PropertyObject>(current)) {
                for (std::size_t p = 0; p < prop->params.size(); ++p) {
                    if (prop->params[p].script_name == part) {
                        next = sub_ref(current, XSI::siParameterID, static_cast<std::uint32_t>(p));
                    }
                }
            }
        }
        if (next == CRef()) return {};
        current = next;
        if (current.GetHandle().classID == XSI::siParameterID && i + 1 < parts.size()) return {};
    }
    return current;
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
