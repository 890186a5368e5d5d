// Internal to the SDK and the host core: not for plug-ins, which never name anything here. The host
// core includes this header and the public ones, never a header of the SDK's sources (host/sdk).
//
// The machinery the SDK's inline component accessors (xsi_ref.h, xsi_geometry.h) need for speed: the
// arrays of every mesh object of the bound host, one entry per store slot, so that a component
// reference (polygon, edge, vertex) is checked and read with loads and compares, no call on any path.
// The compiler then merges the checks of the half dozen wrappers and views the planarity test builds
// for each edge into one.
//
// The host core keeps the table: an entry is filled when a mesh object is added and cleared when it
// leaves; a mesh's arrays never change while its object lives. g_meshes is the table of the host bound
// to the current scope, and is read on that host's thread only.
#pragma once

#include <cstddef>

#include "../xsi_decl.h"

namespace XSI::detail {

// What a reference holds: `object` and `generation` name an object of the host; `index` names a part
// of it (polygon, edge, vertex, parameter, layout item) where that applies.
struct RefHandle {
    ULONG classID = 0;
    ULONG object = 0;
    ULONG generation = 0;
    ULONG index = 0;
    bool operator==(const RefHandle&) const = default;
};

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

// The class of what a handle refers to, for every handle that is not to a component; 0 when it refers
// to nothing or no host is bound. It only reads the bound host's store.
[[gnu::pure]] SICPPSDKIMPEXP siClassID class_of(RefHandle in_handle);

// The table entry of the handle's slot when it holds a mesh object of the handle's generation, or an
// entry with no components (a slot without a mesh, for a handle of generation 0); null otherwise.
// Whoever reads arrays through it has checked an index against its counts, or holds a wrapper that did.
inline const MeshView* mesh_view(const RefHandle& in_handle) {
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
inline const MeshView* component_mesh(const RefHandle& in_handle, ULONG in_classID) {
    if (in_handle.classID != in_classID) return nullptr;
    const MeshView* mesh = mesh_view(in_handle);
    return mesh && in_handle.index < component_count(*mesh, in_classID) ? mesh : nullptr;
}

// The mesh of a wrapper's reference: the reference is empty or was checked by component_mesh when the
// wrapper was made, and an index in range stays in range while its mesh object lives.
inline const MeshView* wrapped_mesh(const RefHandle& in_handle, ULONG in_classID) {
    return in_handle.classID == in_classID ? mesh_view(in_handle) : nullptr;
}

inline siClassID class_id(const RefHandle& in_handle) {
    if (!is_component(in_handle.classID)) return class_of(in_handle);
    return component_mesh(in_handle, in_handle.classID) ? static_cast<siClassID>(in_handle.classID) : siUnknownClassID;
}

// A run of component indices of one mesh object, in that mesh's own storage (CVertexRefArray,
// CEdgeRefArray): read only while the mesh object exists.
struct ComponentRun {
    RefHandle owner;  // classID = the components' class, object/generation = the mesh object
    const ULONG* indices = nullptr;
    LONG count = 0;
};

// The handle of item `in_index` of a run; an empty handle when out of range or the mesh is gone.
inline RefHandle run_item(const ComponentRun& in_run, LONG in_index) {
    if (in_index < 0 || in_index >= in_run.count || !mesh_view(in_run.owner)) return RefHandle{};
    RefHandle h = in_run.owner;
    h.index = in_run.indices[in_index];
    return h;
}

inline ComponentRun component_run(const RefHandle& in_owner, ULONG in_classID, const ULONG* in_first, ULONG in_count) {
    RefHandle h = in_owner;
    h.classID = in_classID;
    h.index = 0;
    return ComponentRun{h, in_first, static_cast<LONG>(in_count)};
}

// Large blocks of mapped memory for arrays that are built, used and dropped within one operation: the
// edge table's scratch while the host core adds a mesh, a plug-in's array of every polygon during a
// callback (CRefArray). Both share one kept block: the block released last is kept, pages and all, for
// the next request it can serve, so such arrays reuse memory that is already faulted in instead of
// asking the kernel for fresh zeroed pages (on this kind of machine the first touch of a page costs more
// than the work done on it). Defined in the SDK library (blocks.cpp), per thread.

// Blocks of at least this many bytes go through here; smaller arrays are better served by malloc.
inline constexpr std::size_t kLargeBlockBytes = std::size_t{1} << 20;

// A block of at least `io_bytes` bytes (rounded up to whole pages); on return `io_bytes` is its real
// size, which may be larger when a kept block is handed out. Its contents are unspecified. Throws
// std::bad_alloc when the system has no memory for it.
SICPPSDKIMPEXP void* acquire_block(std::size_t& io_bytes);
// `in_block` (of `in_bytes`) grown to at least `io_bytes`, contents kept; it may move.
SICPPSDKIMPEXP void* grow_block(void* in_block, std::size_t in_bytes, std::size_t& io_bytes);
// Gives a block back: kept when it is the largest seen lately, else unmapped.
SICPPSDKIMPEXP void release_block(void* in_block, std::size_t in_bytes) noexcept;

}  // namespace XSI::detail
