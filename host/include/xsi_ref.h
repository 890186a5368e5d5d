// CRef: a reference to a scene object or component; CRefArray: a list of them.
//
// A reference is a small value (the kind of object, which object, which of its components); copying
// one never allocates. A default-constructed reference, or one to an object that no longer exists, is
// empty: GetClassID() gives 0 and it converts to false.
#pragma once

#include <cstddef>

#include "xsi_status.h"
#include "xsi_string.h"

namespace XSI {

class SICPPSDKIMPEXP CRef {
public:
    // Host side: the handle behind a reference. `object` and `generation` name an object of the host;
    // `index` names a component of it (polygon, edge, vertex, parameter, layout item) where that applies.
    struct Handle {
        ULONG classID = 0;
        ULONG object = 0;
        ULONG generation = 0;
        ULONG index = 0;
        bool operator==(const Handle&) const = default;
    };

    CRef() = default;
    explicit CRef(const Handle& in_handle) : m_handle(in_handle) {}

    // Resolves an object name: a full name ("Scene_Root.cube.prop") or a name relative to the scene
    // root. A name that denotes nothing leaves the reference empty and returns CStatus::Fail.
    CStatus Set(const CString& in_name);

    // Inline for polygons, edges and vertices (see detail::MeshView).
    siClassID GetClassID() const;
    bool IsA(siClassID in_id) const { return GetClassID() == in_id; }
    bool IsValid() const { return GetClassID() != siUnknownClassID; }
    explicit operator bool() const { return IsValid(); }

    // The full name of the object, or "" for an empty reference.
    CString GetAsText() const;

    bool operator==(const CRef& in_ref) const { return m_handle == in_ref.m_handle; }
    bool operator!=(const CRef& in_ref) const { return !(m_handle == in_ref.m_handle); }

    const Handle& GetHandle() const { return m_handle; }

private:
    Handle m_handle;
};

namespace detail {

// Host side, not for plug-ins: the arrays of every mesh object in the store, one entry per store
// slot, so that component references (polygons, edges, vertices) are checked and read inline, with
// no call into the host. The store keeps the table: an entry is filled when a mesh object is added
// and cleared when it leaves; a mesh's arrays never change while its object is in the store. The host
// runs plug-in callbacks on one thread, which is the only one to use it.
//
// Every check below is a load from the table and a comparison, with no call on any path, so the
// compiler merges the checks of the half dozen wrappers and views the planarity test builds for
// each edge into one.
struct MeshView {
    ULONG generation = 0;  // of the mesh object in this slot; 0 (never a live generation): no mesh
    ULONG polygon_count = 0;
    ULONG edge_count = 0;
    ULONG vertex_count = 0;
    const double* positions = nullptr;    // xyz per vertex
    const ULONG* offsets = nullptr;       // polygon p: corners offsets[p] .. offsets[p+1]
    const ULONG* indices = nullptr;       // vertex of each corner
    const ULONG* corner_edges = nullptr;  // edge leaving each corner
    const ULONG* edges = nullptr;         // two vertices per edge
};

struct MeshTable {
    const MeshView* views = nullptr;  // indexed by store slot
    ULONG size = 0;
};

SICPPSDKIMPEXP extern MeshTable g_meshes;

// CRef::GetClassID for every reference that is not to a component. It only reads the store.
[[gnu::pure]] SICPPSDKIMPEXP siClassID class_of(CRef::Handle in_handle);

// The table entry of the handle's slot when it holds a mesh object of the handle's generation, or an
// entry with no components (a slot without a mesh, for a handle of generation 0); null otherwise.
// Whoever reads arrays through it has checked an index against its counts, or holds a wrapper that did.
inline const MeshView* mesh_view(const CRef::Handle& in_handle) {
    const MeshTable& table = g_meshes;
    if (in_handle.object >= table.size) return nullptr;
    const MeshView* view = table.views + in_handle.object;
    return view->generation == in_handle.generation ? view : nullptr;
}

inline bool is_component(ULONG in_classID) {
    return in_classID == siPolygonFaceID || in_classID == siEdgeID || in_classID == siVertexID;
}

// The number of components of that class the mesh has.
inline ULONG component_count(const MeshView& in_mesh, ULONG in_classID) {
    return in_classID == siPolygonFaceID ? in_mesh.polygon_count
           : in_classID == siEdgeID      ? in_mesh.edge_count
                                         : in_mesh.vertex_count;
}

// The mesh of a live component of class `in_classID` with its index in range, else null.
inline const MeshView* component_mesh(const CRef::Handle& in_handle, ULONG in_classID) {
    if (in_handle.classID != in_classID) return nullptr;
    const MeshView* mesh = mesh_view(in_handle);
    return mesh && in_handle.index < component_count(*mesh, in_classID) ? mesh : nullptr;
}

// Whether `in_ref` is a live component of class `in_classID` with its index in range.
inline bool is_valid_as(const CRef& in_ref, ULONG in_classID) {
    return component_mesh(in_ref.GetHandle(), in_classID) != nullptr;
}

// The mesh of a wrapper's reference: the reference is empty or was checked by component_mesh when the
// wrapper was made, and an index in range stays in range while its mesh object lives.
inline const MeshView* wrapped_mesh(const CRef::Handle& in_handle, ULONG in_classID) {
    return in_handle.classID == in_classID ? mesh_view(in_handle) : nullptr;
}

}  // namespace detail

inline siClassID CRef::GetClassID() const {
    if (!detail::is_component(m_handle.classID)) return detail::class_of(m_handle);
    return detail::component_mesh(m_handle, m_handle.classID) ? static_cast<siClassID>(m_handle.classID)
                                                              : siUnknownClassID;
}

class SICPPSDKIMPEXP CRefArray {
public:
    explicit CRefArray(LONG in_size = 0);
    CRefArray(const CRefArray& in_array);
    CRefArray(CRefArray&& in_array) noexcept { Take(in_array); }
    CRefArray& operator=(const CRefArray& in_array);
    CRefArray& operator=(CRefArray&& in_array) noexcept {
        if (this != &in_array) {
            Free();
            Take(in_array);
        }
        return *this;
    }
    ~CRefArray() { Free(); }

    LONG GetCount() const { return static_cast<LONG>(m_count); }
    // Out-of-range indices give an empty reference (and, for writing, a scratch reference).
    const CRef& operator[](LONG in_index) const {
        return in_index >= 0 && in_index < GetCount() ? m_items[in_index] : EmptyRef();
    }
    CRef& operator[](LONG in_index) {
        return in_index >= 0 && in_index < GetCount() ? m_items[in_index] : ScratchRef();
    }
    CRef GetItem(LONG in_index) const { return (*this)[in_index]; }
    CStatus Add(const CRef& in_ref) {
        const CRef item = in_ref;  // `in_ref` may be one of the items, which Grow moves
        if (m_count == m_capacity) Grow(m_count + 1);
        m_items[m_count++] = item;
        return CStatus::OK;
    }
    void Clear() { m_count = 0; }
    void Reserve(LONG in_count) {
        if (in_count > 0 && static_cast<std::size_t>(in_count) > m_capacity) Grow(static_cast<std::size_t>(in_count));
    }

    // The items' texts separated by commas.
    CString GetAsText() const;

private:
    static const CRef& EmptyRef();
    static CRef& ScratchRef();  // reset to empty on each call

    // Out of line (values.cpp). Room for at least `in_count` items, keeping the current ones. A large
    // array is mapped memory that grows in place or is moved by the kernel, never copied: an array of
    // every polygon of a big mesh, built one Add at a time, costs no copies and no second page faults.
    void Grow(std::size_t in_count);
    void Free() noexcept;
    void Take(CRefArray& in_array) noexcept {
        m_items = in_array.m_items;
        m_count = in_array.m_count;
        m_capacity = in_array.m_capacity;
        in_array.m_items = nullptr;
        in_array.m_count = in_array.m_capacity = 0;
    }

    CRef* m_items = nullptr;
    std::size_t m_count = 0;
    std::size_t m_capacity = 0;
};

}  // namespace XSI
