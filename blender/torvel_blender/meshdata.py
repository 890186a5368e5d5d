"""A Blender mesh as the arrays torvel takes, and the selection and the split written back.

Face i of the arrays is polygon i of the mesh (``mesh.polygons[i]``, which is ``bm.faces[i]`` of the edit
mesh once it is written to the mesh); positions are the base mesh's vertex coordinates in object space, as
Blender stores them, before any modifier. Arrays go in and out through foreach_get/foreach_set: no Python
loop runs per face except over the faces a split replaces.
"""

from dataclasses import dataclass

import bmesh
import numpy as np

# Temporary attributes that carry each piece's source face and corner through the bmesh round trip.
SOURCE_FACE = "torvel_source_face"
SOURCE_CORNER = "torvel_source_corner"


@dataclass
class MeshArrays:
    positions: np.ndarray  # (vertices, 3) float64
    face_sizes: np.ndarray  # (faces,) int64
    face_indices: np.ndarray  # (corners,) int64, the faces' vertices one face after the other
    corner_loops: np.ndarray  # (corners,) int64: the mesh loop of each corner

    @property
    def faces(self):
        return len(self.face_sizes)


def _get(collection, attr, count, dtype, width=1):
    # foreach_get copies in one go only into an array of the property's own type (32-bit ints and floats);
    # any other type takes a slow path item by item, so read in that type and widen afterwards.
    own = np.int32 if np.issubdtype(dtype, np.integer) else np.float32 if np.issubdtype(dtype, np.floating) else dtype
    out = np.empty(count * width, own)
    collection.foreach_get(attr, out)
    return out if own == dtype else out.astype(dtype)


def read(me):
    """The arrays of a mesh that is not in Edit Mode (call ``obj.update_from_editmode()`` first if it is)."""
    nv, nf, nl = len(me.vertices), len(me.polygons), len(me.loops)
    positions = _get(me.vertices, "co", nv, np.float64, 3).reshape(nv, 3)
    sizes = _get(me.polygons, "loop_total", nf, np.int64)
    starts = _get(me.polygons, "loop_start", nf, np.int64)
    loop_vert = _get(me.loops, "vertex_index", nl, np.int64)
    offsets = np.zeros(nf, np.int64)
    np.cumsum(sizes[:-1], out=offsets[1:])
    corners = int(sizes.sum())
    # Blender keeps each polygon's loops as one run, normally in polygon order; gather them in face order
    # when a mesh made by a script orders them otherwise.
    corner_loops = np.repeat(starts - offsets, sizes) + np.arange(corners, dtype=np.int64)
    return MeshArrays(positions, sizes, loop_vert[corner_loops], corner_loops)


def select_faces(me, arrays, faces):
    """Selects exactly `faces` (and their edges and vertices) in a mesh not in Edit Mode."""
    face_sel = np.zeros(arrays.faces, bool)
    face_sel[faces] = True
    corner_sel = np.repeat(face_sel, arrays.face_sizes)
    vert_sel = np.zeros(len(me.vertices), bool)
    vert_sel[arrays.face_indices[corner_sel]] = True
    loop_edge = _get(me.loops, "edge_index", len(me.loops), np.int64)
    edge_sel = np.zeros(len(me.edges), bool)
    edge_sel[loop_edge[arrays.corner_loops[corner_sel]]] = True
    me.vertices.foreach_set("select", vert_sel)
    me.edges.foreach_set("select", edge_sel)
    me.polygons.foreach_set("select", face_sel)
    me.update()


def select_faces_bmesh(bm, faces):
    """Selects `faces` in an edit mesh whose selection the caller has cleared, then flushes it."""
    bm.faces.ensure_lookup_table()
    for i in faces:
        bm.faces[int(i)].select_set(True)
    bm.select_flush_mode()


def _changed_faces(arrays, fix):
    """The input faces whose output is not the face itself: split into several pieces or rewritten."""
    nf = arrays.faces
    source = np.asarray(fix.source_face, np.int64)
    out_sizes = np.asarray(fix.face_sizes, np.int64)
    out_indices = np.asarray(fix.face_indices, np.int64)
    counts = np.bincount(source, minlength=nf)
    changed = counts > 1
    single = counts[source] == 1
    differs = single & (out_sizes != arrays.face_sizes[source])
    same = single & ~differs
    if same.any():
        in_offsets = np.zeros(nf, np.int64)
        np.cumsum(arrays.face_sizes[:-1], out=in_offsets[1:])
        out_offsets = np.zeros(len(out_sizes), np.int64)
        np.cumsum(out_sizes[:-1], out=out_offsets[1:])
        faces = np.nonzero(same)[0]
        k = out_sizes[faces]
        within = np.arange(int(k.sum()), dtype=np.int64) - np.repeat(np.cumsum(k) - k, k)
        a = out_indices[np.repeat(out_offsets[faces], k) + within]
        b = arrays.face_indices[np.repeat(in_offsets[source[faces]], k) + within]
        bad = np.zeros(len(faces), bool)
        np.logical_or.at(bad, np.repeat(np.arange(len(faces)), k), a != b)
        differs[faces[bad]] = True
    changed[source[differs]] = True
    return changed, source, out_sizes, out_indices


def _split_bmesh(bm, changed, source, out_sizes, out_indices):
    """Replaces each changed face of `bm` by its pieces; returns {face: reason} of those it had to keep."""
    bm.faces.ensure_lookup_table()
    bm.verts.ensure_lookup_table()
    out_offsets = np.zeros(len(out_sizes), np.int64)
    np.cumsum(out_sizes[:-1], out=out_offsets[1:])
    pieces_of = {}
    for j in np.nonzero(changed[source])[0].tolist():
        pieces_of.setdefault(int(source[j]), []).append(j)
    # Adding faces outdates the lookup table: take the faces to replace first.
    faces = {s: bm.faces[s] for s in pieces_of}
    replaced, kept = [], {}
    for s, pieces in pieces_of.items():
        face = faces[s]
        # The first corner at a vertex wins should a face repeat one.
        corner_at = {}
        for loop in reversed(face.loops):
            corner_at[loop.vert.index] = loop
        made = []
        try:
            for j in pieces:
                o, k = int(out_offsets[j]), int(out_sizes[j])
                verts = [bm.verts[v] for v in out_indices[o : o + k].tolist()]
                piece = bm.faces.new(verts, face)  # material, smooth flag and face attributes
                made.append(piece)
                for loop in piece.loops:
                    loop.copy_from(corner_at[loop.vert.index])  # every corner layer: UVs, colours, ...
        except (ValueError, KeyError) as e:
            for piece in made:
                bm.faces.remove(piece)
            kept[s] = f"its pieces could not be made in the mesh ({e})"
            continue
        replaced.append(face)
    bmesh.ops.delete(bm, geom=replaced, context="FACES_ONLY")
    return kept


def split(me, arrays, fix):
    """Replaces the faces `fix` (torvel.fix_mesh's result for `arrays`) split by their pieces, in a mesh not
    in Edit Mode. Vertices, edges between kept corners and every attribute stay; each piece keeps its
    face's material, smooth flag and face attributes, each corner its own corner data (UV maps, colour
    attributes, custom split normals). Returns (source face of every new polygon, {face: reason} of the
    changed faces that had to be kept whole)."""
    for name in (SOURCE_FACE, SOURCE_CORNER):
        if me.attributes.get(name) is not None:
            raise RuntimeError(f"the mesh {me.name} has an attribute named {name}, which the split uses")
    nf, nl = arrays.faces, len(me.loops)
    changed, source, out_sizes, out_indices = _changed_faces(arrays, fix)
    if not changed.any():
        return np.arange(nf, dtype=np.int64), {}
    normals = None
    if me.has_custom_normals:
        me.calc_normals_split()
        normals = _get(me.loops, "normal", nl, np.float32, 3).reshape(nl, 3)
    me.attributes.new(SOURCE_FACE, "INT", "FACE").data.foreach_set("value", np.arange(nf, dtype=np.int32))
    me.attributes.new(SOURCE_CORNER, "INT", "CORNER").data.foreach_set("value", np.arange(nl, dtype=np.int32))
    bm = bmesh.new()
    try:
        bm.from_mesh(me)
        kept = _split_bmesh(bm, changed, source, out_sizes, out_indices)
        bm.to_mesh(me)
    finally:
        bm.free()
    new_source = _get(me.attributes[SOURCE_FACE].data, "value", len(me.polygons), np.int32).astype(np.int64)
    corner_source = _get(me.attributes[SOURCE_CORNER].data, "value", len(me.loops), np.int32)
    for name in (SOURCE_FACE, SOURCE_CORNER):
        me.attributes.remove(me.attributes[name])
    if normals is not None:
        # Blender stores a custom normal as two angles in its corner's normal space (from the automatic
        # normal, and around it from a reference edge); a piece's corner has a new space, so the stored angles
        # would now mean other vectors: set again the vector each corner had. Both corners at a new edge's
        # end take one corner's vector, so the fans the new edges join agree and no edge turns sharp. One
        # limit is Blender's: a vector turned less than acos(1 - 1e-4) (0.81°) from its new reference edge
        # is stored on the edge's side, off by up to that angle times its sine from the automatic normal.
        me.normals_split_custom_set(normals[corner_source])
    me.update()
    return new_source, kept
