// The host's object model: everything a CRef can name lives in one Store, addressed by slot and
// generation so that a reference to a deleted object is detected in O(1) instead of dangling.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <xsi_ref.h>
#include <xsi_value.h>
#include <detail/mesh_table.h>

#include "huge_pages.h"
#include "polygon_mesh.h"
#include "uninitialized.h"

namespace torvel::host {

using torvel::PolygonMesh;
using torvel::UninitializedVector;
using XSI::CRef;
using XSI::CValue;
using XSI::siClassID;
using ObjectId = std::uint32_t;

struct Object {
    explicit Object(siClassID cls, std::wstring object_name = {}) : class_id(cls), name(std::move(object_name)) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    siClassID class_id;
    std::wstring name;
    CRef parent;  // empty for top-level objects
    CRef self;    // filled in by the store
};

// Polygon mesh geometry: CSR polygons and one shared edge table.
struct Mesh {
    Mesh() = default;
    // Takes the arrays of `mesh` (moved, not copied); its objects, face lines and warnings are not read.
    explicit Mesh(PolygonMesh&& mesh)
        : positions(std::move(mesh.positions)), offsets(std::move(mesh.offsets)), indices(std::move(mesh.indices)) {}

    std::vector<double> positions;          // xyz per vertex
    std::vector<std::uint32_t> offsets{0};  // polygon i: corners offsets[i] .. offsets[i+1]
    std::vector<std::uint32_t> indices;     // vertex of each corner
    // Built by build_edges, which writes every element.
    UninitializedVector<std::uint32_t> corner_edges;  // edge from corner c to the next corner of its polygon
    UninitializedVector<std::uint32_t> edges;  // 2 vertices per edge, in the order of the polygon that created it

    std::uint32_t vertex_count() const { return static_cast<std::uint32_t>(positions.size() / 3); }
    std::uint32_t polygon_count() const { return static_cast<std::uint32_t>(offsets.size() - 1); }
    std::uint32_t edge_count() const { return static_cast<std::uint32_t>(edges.size() / 2); }

    // Builds corner_edges and edges from positions/offsets/indices in O(corners), on torvel::work_threads()
    // threads for a large mesh; the result does not depend on the number. Throws std::invalid_argument
    // when a polygon has fewer than three corners or an index is out of range.
    void build_edges();
};

namespace detail {
// Mesh::build_edges on up to `threads` threads with parts of about `part_corners` corners, whatever the
// mesh's size (build_edges itself keeps small meshes on one thread): for tests to force small parts.
// The arrays and exceptions are build_edges's own.
void build_edges_in_parts(Mesh& mesh, unsigned threads, std::size_t part_corners);
}  // namespace detail

class Store;

// The names of one scope, the root's children and properties together or one object's properties:
// each name's object, for lookups in O(1), and per name the next number to try when another object
// wants it (unique_names.h). Kept by the host on every path that names an object; an entry whose
// object was removed from the store, or renamed, since reads as free.
class NameIndex {
public:
    // The live object named `name` in this scope, or empty.
    CRef find(const Store& store, std::wstring_view name) const;
    void set(const std::wstring& name, const CRef& object);
    // Forgets `name` when it is `object`'s.
    void erase(const std::wstring& name, const CRef& object);
    // Room for `more` names beyond those there are, so that a batch of objects rehashes once at most.
    void reserve_more(std::size_t more) { entries_.reserve(entries_.size() + more); }
    // The counter of unique_names for `base`, starting at 1.
    std::uint32_t& next_number(const std::wstring& base) { return entries_.try_emplace(base).first->second.next; }

private:
    struct Entry {
        CRef object;  // empty: only the counter is kept
        std::uint32_t next = 1;
    };
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::wstring_view s) const { return std::hash<std::wstring_view>{}(s); }
    };
    std::unordered_map<std::wstring, Entry, Hash, std::equal_to<>> entries_;
};

// Its mesh is set before the store publishes it and never changes afterwards: the SDK's inline
// component accessors read its arrays through the store's mesh table until the object is removed.
struct MeshObject : Object {
    static bool accepts(siClassID c) { return c == XSI::siX3DObjectID; }
    explicit MeshObject(std::wstring n) : Object(XSI::siX3DObjectID, std::move(n)) {}
    Mesh mesh;
    std::vector<CRef> properties;
    NameIndex property_names;
};

struct ParamDef {
    std::wstring script_name;
    std::wstring name;
    std::wstring description;
    CValue::DataType type = CValue::siEmpty;
    XSI::LONG capabilities = 0;
    CValue default_value, min, max, suggested_min, suggested_max;  // empty when absent
    CValue value;
};

struct LayoutEntry {
    enum class Kind { group, item, end_group } kind = Kind::item;
    std::wstring name;     // item: parameter script name
    std::wstring label;    // item or group label
    std::wstring control;  // item control type
    bool border = false;   // group
    XSI::LONG width = 0;   // group
    XSI::LONG label_percentage = 0;
    XSI::LONG label_min_pixels = 0;
};

struct PropertyObject : Object {
    static bool accepts(siClassID c) { return c == XSI::siCustomPropertyID; }
    PropertyObject(std::wstring n, std::wstring k)
        : Object(XSI::siCustomPropertyID, std::move(n)), kind(std::move(k)) {}
    std::wstring kind;  // the registered property name it was made from
    std::vector<ParamDef> params;
    std::vector<LayoutEntry> layout;

    ParamDef* find_param(std::wstring_view script_name) {
        for (ParamDef& p : params)
            if (p.script_name == script_name) return &p;
        return nullptr;
    }
};

struct SceneRoot : Object {
    static bool accepts(siClassID c) { return c == XSI::siModelID; }
    SceneRoot() : Object(XSI::siModelID, L"Scene_Root") {}
    std::vector<CRef> children;    // mesh objects
    std::vector<CRef> properties;  // properties added under the root
    NameIndex names;               // of both: the children and the properties share one namespace
};

// The selected components of one mesh object: an index set with O(1) membership, removal and count,
// kept in selection order. Components selected in index order from the first (what selecting all
// of them gives) are kept as their count and a bitmap of the removed ones, a bit per component
// instead of two indices; any other selection as a list in selection order with a map back into it.
class SubComponent : public Object {
public:
    static bool accepts(siClassID c) { return c == XSI::siSubComponentID; }
    SubComponent(CRef mesh_object, siClassID component)
        : Object(XSI::siSubComponentID), object(mesh_object), component_class(component) {}
    CRef object;
    siClassID component_class;  // siPolygonFaceID or siVertexID

    // Adds `element` unless present. Elements must be < the component count of the mesh.
    void add(std::uint32_t element, std::uint32_t component_count);
    // Adds every component, in index order.
    void add_all(std::uint32_t component_count);
    bool contains(std::uint32_t element) const {
        if (!listed()) return element < in_order_ && !removed(element);
        return element < position_.size() && position_[element] != npos;
    }
    // Removes `element`; false (and nothing changes) when it is not there.
    bool remove(std::uint32_t element) {
        if (listed()) return remove_listed(element);
        if (element >= in_order_ || removed(element)) return false;
        removed_[element / 64] |= std::uint64_t{1} << (element % 64);
        --live_;
        return true;
    }
    std::uint32_t count() const { return live_; }
    // Whether the members are exactly 0 .. count()-1 in that order (every component selected in
    // index order, none removed).
    bool whole_in_order() const { return !listed() && live_ == in_order_; }
    // The live members in selection order.
    std::vector<std::uint32_t> live_members() const {
        std::vector<std::uint32_t> out;
        reserve_huge(out, live_);
        if (!listed()) {
            // A word of the bitmap at a time, visiting only the members it holds.
            for (std::size_t w = 0; w < removed_.size(); ++w) {
                const std::uint32_t base = static_cast<std::uint32_t>(w * 64);
                std::uint64_t present = ~removed_[w];
                if (in_order_ - base < 64) present &= (std::uint64_t{1} << (in_order_ - base)) - 1;
                for (; present; present &= present - 1)
                    out.push_back(base + static_cast<std::uint32_t>(std::countr_zero(present)));
            }
        } else {
            for (std::uint32_t m : members_)
                if (m != npos) out.push_back(m);
        }
        return out;
    }

private:
    static constexpr std::uint32_t npos = 0xffffffffu;
    bool listed() const { return !members_.empty(); }
    bool removed(std::uint32_t e) const { return (removed_[e / 64] >> (e % 64)) & 1u; }
    // Turns the in-order form into the listed one.
    void list();
    bool remove_listed(std::uint32_t element) {
        if (!contains(element)) return false;
        // The slot in `members_` stays as a tombstone so that removal is O(1).
        members_[position_[element]] = npos;
        position_[element] = npos;
        --live_;
        return true;
    }

    std::uint32_t in_order_ = 0;           // in-order form: elements 0 .. in_order_-1 ...
    std::vector<std::uint64_t> removed_;   // ... but those whose bit is set
    std::vector<std::uint32_t> members_;   // listed form: in selection order, npos where removed
    std::vector<std::uint32_t> position_;  // listed form: element -> slot in members_, or npos
    std::uint32_t live_ = 0;
};

// One entry of a selection: an object, or a set of its components.
struct SelectionItem : Object {
    static bool accepts(siClassID c) { return c == XSI::siSelectionItemID; }
    SelectionItem() : Object(XSI::siSelectionItemID) {}
    CRef object;
    CRef subcomponent;  // empty when the object is selected whole
};

// A snapshot of a subcomponent's live members, made on each "ComponentCollection" read. A snapshot of
// a subcomponent that holds every component in index order is kept as that count.
struct ComponentCollection : Object {
    static bool accepts(siClassID c) { return c == XSI::siComponentCollectionID; }
    ComponentCollection() : Object(XSI::siComponentCollectionID) {}
    CRef object;
    siClassID component_class = XSI::siUnknownClassID;
    std::vector<std::uint32_t> elements;
    std::uint32_t in_order = 0;  // with no `elements`: the components 0 .. in_order-1

    std::size_t size() const { return elements.empty() ? in_order : elements.size(); }
    std::uint32_t operator[](std::size_t i) const {
        return elements.empty() ? static_cast<std::uint32_t>(i) : elements[i];
    }
};

struct ContextObject : Object {
    static bool accepts(siClassID c) { return c == XSI::siContextID || c == XSI::siPPGEventContextID; }
    explicit ContextObject(siClassID cls = XSI::siContextID) : Object(cls) {}
    CRef source;
    XSI::LONG event_id = 0;  // page-event contexts
    std::unordered_map<std::wstring, CValue> attributes;
    std::unordered_map<std::wstring, std::vector<CRef>> array_attributes;
};

struct PluginItemObject : Object {
    static bool accepts(siClassID c) { return c == XSI::siPluginItemID || c == XSI::siFilterID; }
    PluginItemObject(siClassID cls, std::wstring n) : Object(cls, std::move(n)) {}
    bool is_filter() const { return class_id == XSI::siFilterID; }
    XSI::LONG filter_type = 0;
};

struct RegistrarObject : Object {
    static bool accepts(siClassID c) { return c == XSI::siPluginRegistrarID; }
    RegistrarObject() : Object(XSI::siPluginRegistrarID) {}
    std::wstring author, email, url, filename;
    XSI::LONG version_major = 0, version_minor = 0;
    std::vector<CRef> items;  // PluginItemObject (filters have class siFilterID)
};

// Owner of every object. Objects made while a callback scope is open (contexts, collections) are
// released when that scope closes; the rest live until removed. The SDK uses only the inline part of
// the store (it is built without the host core); it makes objects through HostLink::adopt.
class Store {
public:
    template <class T, class... Args>
    T& make(Args&&... args) {
        return static_cast<T&>(adopt(std::make_unique<T>(std::forward<Args>(args)...), false));
    }
    // Like make, but the object belongs to the innermost open scope (kept until clear() when none).
    template <class T, class... Args>
    T& make_transient(Args&&... args) {
        return static_cast<T&>(adopt(std::make_unique<T>(std::forward<Args>(args)...), true));
    }
    // Takes ownership of `obj` and gives it its reference (obj->self).
    Object& adopt(std::unique_ptr<Object> obj, bool transient);

    // The object a handle names (the object part only; component indices are not checked), or null.
    Object* find(const CRef::Handle& h) const {
        if (h.object >= slots_.size()) return nullptr;
        const Slot& s = slots_[h.object];
        return s.generation == h.generation ? s.object.get() : nullptr;
    }
    // The object as type T when its class is one T stands for (T::accepts), else null.
    template <class T>
    T* find_as(const CRef& ref) const {
        Object* obj = find(ref.GetHandle());
        return obj && T::accepts(obj->class_id) ? static_cast<T*>(obj) : nullptr;
    }

    void remove(const CRef& ref);
    void clear();

    // Enters a mesh object's arrays in the store's mesh table; until then its components are invalid
    // references.
    void publish(const MeshObject& obj);
    // The table of every slot's mesh arrays. While the store's host is bound (HostScope), it is also the
    // table the SDK's inline component accessors read (XSI::detail::g_meshes).
    XSI::detail::MeshTable mesh_table() const {
        return XSI::detail::MeshTable{meshes_.data(), static_cast<XSI::ULONG>(meshes_.size())};
    }
    // Called by the SDK's binding only: whether this store's table is the one the SDK reads.
    void set_published(bool on) {
        published_ = on;
        if (on) XSI::detail::g_meshes = mesh_table();
    }

    // Transient objects made between open_scope and close_scope are removed at close_scope.
    // Scopes nest; a callback that runs a script which calls another callback opens a second one.
    void open_scope();
    void close_scope();

    std::size_t live_objects() const { return slots_.size() - free_.size(); }

private:
    struct Slot {
        std::unique_ptr<Object> object;
        std::uint32_t generation = 1;
    };
    std::vector<Slot> slots_;
    std::vector<XSI::detail::MeshView> meshes_;  // one per slot; generation 0 where there is no mesh
    std::vector<std::uint32_t> free_;
    std::vector<std::vector<CRef>> scopes_;  // references, so a slot reused meanwhile is left alone
    bool published_ = false;
};

// A reference to a part of the object `owner` refers to: one of its components (polygon, edge, vertex),
// parameters, layout items, or its page layout.
inline CRef sub_ref(const CRef& owner, siClassID cls, std::uint32_t index) {
    CRef::Handle h = owner.GetHandle();
    h.classID = static_cast<XSI::ULONG>(cls);
    h.index = index;
    return CRef(h);
}

// The page layout of a property (a PPGLayout reference on the property object).
inline CRef layout_ref(const CRef& property) { return sub_ref(property, XSI::siPPGLayoutID, 0); }

}  // namespace torvel::host
