// CRef: a reference to a scene object or component; CRefArray: a list of them.
//
// A reference is a small value (the kind of object, which object, which of its components); copying
// one never allocates. A default-constructed reference, or one to an object that no longer exists, is
// empty: GetClassID() gives 0 and it converts to false.
#pragma once

#include <cstdint>
#include <vector>

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

    // Inline for polygons, edges and vertices of the mesh resolved last (see detail::MeshView).
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

// Host side, not for plug-ins: the arrays of the mesh object the SDK resolved last, so that component
// references (polygons, edges, vertices) are checked and read inline instead of by a call into the
// host. The store resets it whenever an object leaves it; a mesh's arrays never change while its
// object is in the store. The host runs plug-in callbacks on one thread, which is the only one to use it.
struct MeshView {
    ULONG object = 0;
    ULONG generation = 0;  // 0: no mesh (the store numbers generations from 1)
    ULONG polygon_count = 0;
    ULONG edge_count = 0;
    ULONG vertex_count = 0;
    const double* positions = nullptr;    // xyz per vertex
    const ULONG* offsets = nullptr;       // polygon p: corners offsets[p] .. offsets[p+1]
    const ULONG* indices = nullptr;       // vertex of each corner
    const ULONG* corner_edges = nullptr;  // edge leaving each corner
    const ULONG* edges = nullptr;         // two vertices per edge
};

SICPPSDKIMPEXP extern MeshView g_last_mesh;

// The slow paths take their arguments by value, so that the inline callers' handles can stay in
// registers instead of being written out for the call.

// The live mesh object named by slot and generation, made the last resolved one; null when there is
// no such live mesh object.
[[gnu::cold]] SICPPSDKIMPEXP const MeshView* find_mesh(ULONG in_object, ULONG in_generation);
// CRef::GetClassID for every reference the inline path does not settle. It only reads the store
// (see the per-edge accessors in xsi_geometry.h).
[[gnu::pure]] SICPPSDKIMPEXP siClassID class_of(CRef::Handle in_handle);

// Slot and generation of an object as one number: two handles name the same object when these agree.
inline std::uint64_t object_key(ULONG in_object, ULONG in_generation) {
    return std::uint64_t{in_generation} << 32 | in_object;
}

// The last resolved mesh when `in_handle` names it (then that object is alive and unchanged), else null.
inline const MeshView* last_mesh_for(const CRef::Handle& in_handle) {
    // One comparison of slot and generation together; a generation of 0 never names a live object,
    // which also rules out the empty view. (Built from the fields rather than loaded as one word: a
    // handle is often built a field at a time just before, and one wide load over several narrow
    // stores would stall on store forwarding.)
    const MeshView& last = g_last_mesh;
    return object_key(in_handle.object, in_handle.generation) == object_key(last.object, last.generation) &&
                   in_handle.generation != 0
               ? &last
               : nullptr;
}

inline const MeshView* mesh_view(const CRef::Handle& in_handle) {
    const MeshView* last = last_mesh_for(in_handle);
    return last ? last : find_mesh(in_handle.object, in_handle.generation);
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

// Whether in_ref.GetClassID() == in_classID, for a component class, without the dispatch on the class.
inline bool is_valid_as(const CRef& in_ref, ULONG in_classID);

}  // namespace detail

inline siClassID CRef::GetClassID() const {
    if (!detail::is_component(m_handle.classID)) return detail::class_of(m_handle);
    const detail::MeshView* mesh = detail::mesh_view(m_handle);
    return mesh && m_handle.index < detail::component_count(*mesh, m_handle.classID)
               ? static_cast<siClassID>(m_handle.classID)
               : siUnknownClassID;
}

inline bool detail::is_valid_as(const CRef& in_ref, ULONG in_classID) {
    const CRef::Handle& h = in_ref.GetHandle();
    if (h.classID != in_classID) return false;
    if (const MeshView* last = last_mesh_for(h)) return h.index < component_count(*last, in_classID);
    return class_of(h) == static_cast<siClassID>(in_classID);  // leaves the last resolved mesh as it is
}

class SICPPSDKIMPEXP CRefArray {
public:
    explicit CRefArray(LONG in_size = 0) : m_items(in_size > 0 ? static_cast<std::size_t>(in_size) : 0) {}

    LONG GetCount() const { return static_cast<LONG>(m_items.size()); }
    // Out-of-range indices give an empty reference (and, for writing, a scratch reference).
    const CRef& operator[](LONG in_index) const {
        return in_index >= 0 && in_index < GetCount() ? m_items[static_cast<std::size_t>(in_index)] : EmptyRef();
    }
    CRef& operator[](LONG in_index) {
        return in_index >= 0 && in_index < GetCount() ? m_items[static_cast<std::size_t>(in_index)] : ScratchRef();
    }
    CRef GetItem(LONG in_index) const { return (*this)[in_index]; }
    CStatus Add(const CRef& in_ref) {
        m_items.push_back(in_ref);
        return CStatus::OK;
    }
    void Clear() { m_items.clear(); }
    void Reserve(LONG in_count) {
        if (in_count > 0) m_items.reserve(static_cast<std::size_t>(in_count));
    }

    // The items' texts separated by commas.
    CString GetAsText() const;

private:
    static const CRef& EmptyRef();
    static CRef& ScratchRef();  // reset to empty on each call

    std::vector<CRef> m_items;
};

}  // namespace XSI
