"""A Blender mesh as the arrays torvel takes, and the selection and the split written back.

Face i of the arrays is polygon i of the mesh (``mesh.polygons[i]``, which is ``bm.faces[i]`` of the edit
mesh once it is written to the mesh); positions are the base mesh's vertex coordinates in object space, as
Blender stores them, before any modifier. Arrays go in and out through foreach_get/foreach_set, whole layers
at a time: no Python loop runs per face or per corner.
"""

from dataclasses import dataclass
from functools import cached_property

import numpy as np


@dataclass
class MeshArrays:
    positions: np.ndarray  # (vertices, 3) float32, as Blender stores them (torvel widens them)
    face_sizes: np.ndarray  # (faces,) int32
    face_indices: np.ndarray  # (corners,) int32, the faces' vertices one face after the other
    corner_loops: np.ndarray | None  # (corners,): the mesh loop of each corner; None when corner i is loop i

    @property
    def faces(self):
        return len(self.face_sizes)

    @cached_property
    def face_starts(self):
        """The first corner of each face."""
        return offsets_of(self.face_sizes)

    def loops(self, corners):
        """The mesh loops of these corners."""
        return corners if self.corner_loops is None else self.corner_loops[corners]


def _get(collection, attr, count, dtype, width=1):
    # foreach_get copies in one go only into an array of the property's own type (32-bit ints and floats);
    # any other type takes a slow path item by item, so read in that type and widen afterwards.
    own = np.int32 if np.issubdtype(dtype, np.integer) else np.float32 if np.issubdtype(dtype, np.floating) else dtype
    out = np.empty(count * width, own)
    collection.foreach_get(attr, out)
    return out if own == dtype else out.astype(dtype)


def offsets_of(sizes):
    out = np.zeros(len(sizes), np.int64)
    np.cumsum(sizes[:-1], out=out[1:])
    return out


def runs(starts, sizes):
    """starts[0], starts[0]+1, ..., then starts[1], ...: each run as long as its size."""
    sizes = np.asarray(sizes, np.int64)
    total = int(sizes.sum())
    return np.repeat(np.asarray(starts, np.int64) - offsets_of(sizes), sizes) + np.arange(total, dtype=np.int64)


def read(me):
    """The arrays of a mesh that is not in Edit Mode (call ``obj.update_from_editmode()`` first if it is)."""
    nv, nf, nl = len(me.vertices), len(me.polygons), len(me.loops)
    positions = _get(me.vertices, "co", nv, np.float32, 3).reshape(nv, 3)
    sizes = _get(me.polygons, "loop_total", nf, np.int32)
    starts = _get(me.polygons, "loop_start", nf, np.int32)
    loop_vert = _get(me.loops, "vertex_index", nl, np.int32)
    if int(sizes.sum(dtype=np.int64)) == nl and np.array_equal(starts, offsets_of(sizes)):
        return MeshArrays(positions, sizes, loop_vert, None)
    # Blender keeps each polygon's loops as one run, normally in polygon order; gather them in face order
    # when a mesh made by a script orders them otherwise.
    corner_loops = runs(starts, sizes)
    return MeshArrays(positions, sizes, loop_vert[corner_loops], corner_loops)


def select_faces(me, arrays, faces, loop_edge=None):
    """Selects exactly `faces` (and their edges and vertices) in a mesh not in Edit Mode. Nothing is tagged
    for the dependency graph: in Object Mode no view draws the face selection, and Edit Mode and the paint
    modes read it from the mesh itself; re-evaluating a large mesh would cost more than the selection."""
    face_sel = np.zeros(arrays.faces, bool)
    face_sel[faces] = True
    corner_sel = np.repeat(face_sel, arrays.face_sizes)
    vert_sel = np.zeros(len(me.vertices), bool)
    vert_sel[arrays.face_indices[corner_sel]] = True
    if loop_edge is None:
        loop_edge = _get(me.loops, "edge_index", len(me.loops), np.int32)
    edge_sel = np.zeros(len(me.edges), bool)
    edge_sel[loop_edge[arrays.loops(np.nonzero(corner_sel)[0])]] = True
    me.vertices.foreach_set("select", vert_sel)
    me.edges.foreach_set("select", edge_sel)
    me.polygons.foreach_set("select", face_sel)


def select_faces_bmesh(bm, faces):
    """Selects `faces` in an edit mesh whose selection the caller has cleared, then flushes it."""
    bm.faces.ensure_lookup_table()
    for i in faces:
        bm.faces[int(i)].select_set(True)
    bm.select_flush_mode()


def _changed_faces(arrays, fix):
    """The input faces fix split (each into several pieces); the others stay as the mesh has them."""
    source = np.asarray(fix.source_face, np.int64)
    changed = np.bincount(source, minlength=arrays.faces) > 1
    changed[np.asarray(fix.split, np.int64)] = True
    return changed, source, np.asarray(fix.face_sizes, np.int64), np.asarray(fix.face_indices, np.int64)


# The foreach field, width and 32-bit type of each attribute type.
_FIELDS = {
    "FLOAT": ("value", 1, np.float32),
    "INT": ("value", 1, np.int32),
    "INT8": ("value", 1, np.int32),
    "BOOLEAN": ("value", 1, bool),
    "FLOAT_VECTOR": ("vector", 3, np.float32),
    "FLOAT2": ("vector", 2, np.float32),
    "FLOAT_COLOR": ("color", 4, np.float32),
    "BYTE_COLOR": ("color_srgb", 4, np.float32),
}


def _layers(me, domain):
    """(name, getter of its data collection, field, width, type) of every layer of a domain that the split
    carries over: the generic attributes, and for corners the UV maps, for faces the face maps and flags."""
    out = []
    for a in me.attributes:
        if a.domain == domain:
            field, width, dtype = _FIELDS.get(a.data_type, ("value", 1, object))
            out.append((lambda n=a.name: me.attributes[n].data, field, width, dtype))
    if domain == "CORNER":
        for uv in me.uv_layers:
            for field, width, dtype in (
                ("uv", 2, np.float32),
                ("pin_uv", 1, bool),
                ("select", 1, bool),
                ("select_edge", 1, bool),
            ):
                out.append((lambda n=uv.name: me.uv_layers[n].data, field, width, dtype))
    else:
        for fm in me.face_maps:
            out.append((lambda n=fm.name: me.face_maps[n].data, "value", 1, np.int32))
        for field in ("use_smooth", "use_freestyle_mark"):
            out.append((lambda: me.polygons, field, 1, bool))
    return out


def _read_layer(data, field, width, dtype):
    if dtype is object:  # strings: no foreach path
        return np.array([getattr(d, field) for d in data], object)
    out = np.empty(len(data) * width, dtype)
    data.foreach_get(field, out)
    return out.reshape(-1, width)


def _write_layer(data, field, values):
    if values.dtype == object:
        for d, v in zip(data, values[:, 0].tolist()):
            setattr(d, field, v)
    else:
        data.foreach_set(field, values.ravel())


def _corner_sources(arrays, changed, source, out_sizes, out_starts, out_indices):
    """For every corner of the pieces of changed faces, the corner of its face at the same vertex (the first,
    should the face repeat a vertex); and the faces whose pieces cannot take their corners from it (a vertex
    the face does not have, or a piece that repeats one)."""
    nv = len(arrays.positions)
    pieces = np.nonzero(changed[source])[0]
    k = out_sizes[pieces]
    piece_face = np.repeat(source[pieces], k)
    piece_vert = out_indices[runs(out_starts[pieces], k)]
    faces = np.nonzero(changed)[0]
    corners = runs(arrays.face_starts[faces], arrays.face_sizes[faces])
    keys = np.repeat(faces, arrays.face_sizes[faces]) * nv + arrays.face_indices[corners]
    order = np.lexsort((corners, keys))
    keys, corners = keys[order], corners[order]
    first = np.ones(len(keys), bool)
    first[1:] = keys[1:] != keys[:-1]
    keys, corners = keys[first], corners[first]
    wanted = piece_face * nv + piece_vert
    at = np.minimum(np.searchsorted(keys, wanted), len(keys) - 1)
    bad = np.zeros(arrays.faces, bool)
    bad[piece_face[keys[at] != wanted]] = True
    piece_keys = np.sort(np.repeat(np.arange(len(pieces), dtype=np.int64), k) * nv + piece_vert)
    bad[source[pieces[piece_keys[1:][piece_keys[1:] == piece_keys[:-1]] // nv]]] = True
    return corners[at], bad


def split(me, arrays, fix):
    """Replaces the faces `fix` (torvel.fix_mesh's result for `arrays`) split by their pieces, in a mesh not
    in Edit Mode; the pieces take their face's place in the polygon order. Vertices, edges and every vertex and
    edge attribute stay (the new edges get the defaults); each piece keeps its face's material, smooth flag
    and face attributes, each corner its own corner data (UV maps, colour attributes, custom split normals).
    Returns (the new arrays, the edge of each new loop or None when nothing changed, the source face of
    every new polygon, {face: reason} of the changed faces that had to be kept whole)."""
    nf, nl, ne = arrays.faces, len(me.loops), len(me.edges)
    changed, source, out_sizes, out_indices = _changed_faces(arrays, fix)
    if not changed.any():
        return arrays, None, np.arange(nf, dtype=np.int64), {}
    kept = {}
    # A mesh's polygons and loops can be added to but not removed: a face whose output has fewer corners
    # than the face stays whole.
    shrinks = changed & (np.bincount(source, out_sizes, minlength=nf) < arrays.face_sizes)
    for f in np.nonzero(shrinks)[0].tolist():
        kept[f] = "its pieces have fewer corners than the face"
    changed &= ~shrinks
    out_starts = offsets_of(out_sizes)
    piece_corner_source, bad = _corner_sources(arrays, changed, source, out_sizes, out_starts, out_indices)
    if bad.any():
        for f in np.nonzero(bad)[0].tolist():
            kept[f] = "its pieces do not take their corners from the face (a vertex it lacks, or one repeated)"
        changed &= ~bad
        piece_corner_source, _ = _corner_sources(arrays, changed, source, out_sizes, out_starts, out_indices)
    if not changed.any():
        return arrays, None, np.arange(nf, dtype=np.int64), kept

    # The new polygons in order: each face left whole, or in its place its pieces in fix's order.
    whole = np.nonzero(~changed)[0]
    pieces = np.nonzero(changed[source])[0]
    counts = np.bincount(source[pieces], minlength=nf)
    first_new = offsets_of(np.where(changed, counts, 1))
    by_face = np.argsort(source[pieces], kind="stable")
    group = counts[changed]
    at_piece = np.empty(len(pieces), np.int64)
    rank = np.arange(len(pieces)) - np.repeat(offsets_of(group), group)  # each piece's place among its face's
    at_piece[by_face] = first_new[source[pieces[by_face]]] + rank
    at_whole = first_new[whole]
    new_faces = len(whole) + len(pieces)
    new_source = np.empty(new_faces, np.int64)
    new_source[at_whole], new_source[at_piece] = whole, source[pieces]
    new_sizes = np.empty(new_faces, np.int64)
    new_sizes[at_whole], new_sizes[at_piece] = arrays.face_sizes[whole], out_sizes[pieces]
    # Each new corner's source corner: a whole face's own corners, a piece's from _corner_sources (numbered
    # from nl on here, after the old corners).
    pool_start = np.empty(new_faces, np.int64)
    pool_start[at_whole] = arrays.face_starts[whole]
    pool_start[at_piece] = nl + offsets_of(out_sizes[pieces])
    corner_source = runs(pool_start, new_sizes)
    is_piece = corner_source >= nl
    corner_source[is_piece] = piece_corner_source[corner_source[is_piece] - nl]
    source_loops = arrays.loops(corner_source)
    new_verts = arrays.face_indices[corner_source]

    # Edges: those of whole faces stay; a piece's corner finds its edge among the old ones or a new one.
    loop_edge = _get(me.loops, "edge_index", nl, np.int32)
    new_edge = loop_edge[source_loops]
    starts = offsets_of(new_sizes)
    corners = np.nonzero(is_piece)[0]
    lasts = starts + new_sizes - 1
    following = corners + 1
    wraps = np.zeros(len(new_verts), bool)
    wraps[lasts] = True
    wraps = wraps[corners]
    following[wraps] = starts[np.searchsorted(lasts, corners[wraps])]
    a, b = new_verts[corners], new_verts[following]
    nv = len(arrays.positions)
    want = np.minimum(a, b).astype(np.int64) * nv + np.maximum(a, b)
    edge_verts = _get(me.edges, "vertices", ne, np.int32, 2).reshape(ne, 2)
    # Only an edge between two of the pieces' vertices can be one of theirs.
    touched = np.zeros(nv, bool)
    touched[a] = True
    near = np.nonzero(touched[edge_verts[:, 0]] & touched[edge_verts[:, 1]])[0]
    ends = edge_verts[near].astype(np.int64)
    have = ends.min(1) * nv + ends.max(1)
    by_key = np.argsort(have)
    have = have[by_key]
    at = np.minimum(np.searchsorted(have, want), max(len(have) - 1, 0))
    found = have[at] == want if len(have) else np.zeros(len(want), bool)
    added, which = np.unique(want[~found], return_inverse=True)
    piece_edge = np.where(found, near[by_key[at]] if len(have) else 0, ne)
    piece_edge[~found] = ne + which
    new_edge[corners] = piece_edge

    normals = None
    if me.has_custom_normals:
        me.calc_normals_split()
        normals = _get(me.loops, "normal", nl, np.float32, 3).reshape(nl, 3)
    face_layers = [(get, field, _read_layer(get(), field, w, t)) for get, field, w, t in _layers(me, "FACE")]
    corner_layers = [(get, field, _read_layer(get(), field, w, t)) for get, field, w, t in _layers(me, "CORNER")]

    me.edges.add(len(added))
    me.edges.foreach_set(
        "vertices", np.concatenate([edge_verts, np.stack([added // nv, added % nv], 1)]).astype(np.int32).ravel()
    )
    me.loops.add(len(new_verts) - nl)
    me.polygons.add(len(new_sizes) - nf)
    me.polygons.foreach_set("loop_start", starts.astype(np.int32))
    me.polygons.foreach_set("loop_total", new_sizes.astype(np.int32))
    me.loops.foreach_set("vertex_index", new_verts)
    me.loops.foreach_set("edge_index", new_edge)
    for get, field, values in face_layers:
        _write_layer(get(), field, values[new_source])
    for get, field, values in corner_layers:
        _write_layer(get(), field, values[source_loops])
    if normals is not None:
        # Blender stores a custom normal as two angles in its corner's normal space (from the automatic
        # normal, and around it from a reference edge); a piece's corner has a new space, so the stored angles
        # would now mean other vectors: set again the vector each corner had. Both corners at a new edge's
        # end take one corner's vector, so the fans the new edges join agree and no edge turns sharp. One
        # limit is Blender's: a vector turned less than acos(1 - 1e-4) (0.81°) from its new reference edge
        # is stored on the edge's side, off by up to that angle times its sine from the automatic normal.
        me.normals_split_custom_set(normals[source_loops])
    me.update()
    new_arrays = MeshArrays(arrays.positions, new_sizes.astype(np.int32), new_verts, None)
    return new_arrays, new_edge, new_source, kept
