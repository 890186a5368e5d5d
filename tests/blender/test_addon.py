"""Headless tests of the torvel_blender add-on, run inside Blender:

    blender -b --factory-startup --python-exit-code 1 --python tests/blender/test_addon.py -- ADDON_DIR EXAMPLES_DIR

ADDON_DIR holds the torvel_blender package; the torvel module must be importable (PYTHONPATH). Exits 1 when a
test fails. With a window (not -b) the undo tests run too; in the background Blender keeps no undo stack.
"""

import math
import os
import sys
import time
import traceback
from pathlib import Path

import addon_utils
import bmesh
import bpy
import numpy as np

ADDON_DIR, EXAMPLES = (Path(a) for a in sys.argv[sys.argv.index("--") + 1 :][:2])
sys.path.insert(0, str(ADDON_DIR))
import torvel  # noqa: E402

TESTS = []


def test(fn):
    TESTS.append(fn)
    return fn


def clean_scene():
    if bpy.context.object is not None and bpy.context.object.mode != "OBJECT":
        bpy.ops.object.mode_set(mode="OBJECT")
    for o in list(bpy.data.objects):
        bpy.data.objects.remove(o)
    for m in list(bpy.data.meshes):
        bpy.data.meshes.remove(m)
    bpy.context.scene.torvel_tolerance = 45.0


def mesh_object(name, verts, faces):
    me = bpy.data.meshes.new(name)
    me.from_pydata([tuple(v) for v in verts], [], [tuple(f) for f in faces])
    me.update()
    obj = bpy.data.objects.new(name, me)
    bpy.context.scene.collection.objects.link(obj)
    return obj


def select_only(*objects):
    bpy.context.view_layer.update()  # objects just linked get their place in the view layer
    for o in bpy.context.view_layer.objects:
        o.select_set(o in objects)
    bpy.context.view_layer.objects.active = objects[0] if objects else None


def arrays(me):
    n = len(me.polygons)
    sizes = np.empty(n, np.int64)
    me.polygons.foreach_get("loop_total", sizes)
    idx = np.empty(len(me.loops), np.int64)
    me.loops.foreach_get("vertex_index", idx)
    pos = np.empty(len(me.vertices) * 3, np.float32)
    me.vertices.foreach_get("co", pos)
    return pos.reshape(-1, 3).astype(np.float64), sizes, idx


def selected_faces(me):
    sel = np.empty(len(me.polygons), bool)
    me.polygons.foreach_get("select", sel)
    return np.nonzero(sel)[0]


def expected(obj, tol):
    return np.asarray(torvel.check_mesh(*arrays(obj.data), tol).non_planar)


def bent_grid(name, n, bend_every, height, seed=1):
    """An n x n grid of quads and, every few faces, a bent pentagon made of two quads' corners."""
    rng = np.random.default_rng(seed)
    xs, ys = np.meshgrid(np.arange(n + 1, dtype=float), np.arange(n + 1, dtype=float))
    z = np.zeros_like(xs)
    verts = np.stack([xs.ravel(), ys.ravel(), z.ravel()], 1)
    faces = []
    for j in range(n):
        for i in range(n):
            a = j * (n + 1) + i
            faces.append([a, a + 1, a + n + 2, a + n + 1])
    lift = rng.choice(len(verts), size=len(verts) // bend_every, replace=False)
    verts[lift, 2] += height
    return mesh_object(name, verts, faces)


def ngon_object(name):
    """N-gons of 5 to 8 corners, bent by various amounts, a triangle, and two degenerate quads."""
    verts, faces = [], []
    for k, (sides, lift) in enumerate([(5, 0.0), (5, 0.6), (6, 0.05), (6, 1.5), (7, 0.3), (8, 2.0), (8, 0.0)]):
        base = len(verts)
        for s in range(sides):
            a = 2 * math.pi * s / sides
            verts.append((10 * k + math.cos(a), math.sin(a), lift if s == 2 else 0.0))
        faces.append(list(range(base, base + sides)))
    base = len(verts)
    verts += [(0, 5, 0), (1, 5, 0), (2, 5, 0), (1, 6, 0.2)]  # a quad with three collinear corners
    faces.append([base, base + 1, base + 2, base + 3])
    base = len(verts)
    verts += [(0, 8, 0), (1, 8, 0), (1, 9, 0)]
    faces.append([base, base + 1, base + 2])
    return mesh_object(name, verts, faces)


@test
def register_cycle_and_tolerance_default():
    # The add-on was enabled by main(); disable and enable it again in the same session.
    addon_utils.disable("torvel_blender", default_set=True)
    assert not hasattr(bpy.types.Scene, "torvel_tolerance")
    assert not hasattr(bpy.types, "MESH_OT_torvel_split_non_planar")
    addon_utils.enable("torvel_blender", default_set=True)
    prop = bpy.types.Scene.bl_rna.properties["torvel_tolerance"]
    param = [p for p in torvel.plugin_info()["property"]["parameters"] if p["script_name"] == "def"][0]
    assert prop.default == param["default"] == 45.0, (prop.default, param)
    assert (prop.hard_min, prop.hard_max) == (0.0, 90.0)


@test
def select_object_mode_several_objects_equals_check():
    clean_scene()
    grid = bent_grid("Grid", 30, 7, 0.4)
    ngons = ngon_object("Ngons")
    other = bent_grid("Unselected", 5, 3, 1.0)
    select_only(grid, ngons)
    untouched = selected_faces(other.data)
    for tol in (45.0, 10.0, 0.0, 90.0):
        bpy.context.scene.torvel_tolerance = tol
        assert bpy.ops.mesh.torvel_select_non_planar() == {"FINISHED"}
        for obj in (grid, ngons):
            want = expected(obj, tol)
            got = selected_faces(obj.data)
            assert np.array_equal(got, want), (obj.name, tol, got, want)
            sel_v = np.empty(len(obj.data.vertices), bool)
            obj.data.vertices.foreach_get("select", sel_v)
            _, sizes, idx = arrays(obj.data)
            on_selected = np.unique(idx[np.repeat(np.isin(np.arange(len(sizes)), want), sizes)])
            assert np.array_equal(np.nonzero(sel_v)[0], on_selected)
        assert np.array_equal(selected_faces(other.data), untouched)  # not selected, not changed
        lines = bpy.context.scene.torvel_result.report.splitlines()
        t = f"{tol:g}"
        assert lines == [
            f"Grid: {len(expected(grid, tol))} of 900 faces non-planar at {t}°",
            f"Ngons: {len(expected(ngons, tol))} of 9 faces non-planar at {t}°",
        ], lines
    assert tuple(bpy.context.tool_settings.mesh_select_mode) == (False, False, True)
    # The panel's figures: one band per bend range, and the worst faces by bend.
    r = bpy.context.scene.torvel_result
    assert [b.name for b in r.bands][-1] == "degenerate" and len(r.bands) == 8
    bends = [w.bend for w in r.worst]
    assert len(bends) == 10 and bends == sorted(bends, reverse=True)


@test
def select_edit_mode_multi_object_and_tolerance_format():
    clean_scene()
    a = ngon_object("A")
    b = bent_grid("B", 8, 4, 0.7, seed=3)
    select_only(a, b)
    bpy.ops.object.mode_set(mode="EDIT")
    bpy.ops.mesh.select_all(action="SELECT")
    bpy.context.scene.torvel_tolerance = 12.3
    assert bpy.ops.mesh.torvel_select_non_planar() == {"FINISHED"}
    for obj in (a, b):
        bm = bmesh.from_edit_mesh(obj.data)
        got = np.array([f.index for f in bm.faces if f.select])
        obj.update_from_editmode()
        assert np.array_equal(got, expected(obj, 12.3)), (obj.name, got)
        assert bm.select_mode == {"FACE"}
    assert bpy.context.scene.torvel_result.report.splitlines()[0].endswith("non-planar at 12.3°")
    bpy.ops.object.mode_set(mode="OBJECT")
    assert np.array_equal(selected_faces(a.data), expected(a, 12.3))


@test
def select_examples_equals_check_of_the_file():
    for path in sorted(EXAMPLES.glob("*.obj")):
        clean_scene()
        bpy.ops.wm.obj_import(filepath=str(path), forward_axis="Y", up_axis="Z")
        objs = [o for o in bpy.context.scene.objects if o.type == "MESH"]
        assert len(objs) == 1, path
        select_only(objs[0])
        for tol in (45.0, 20.0):
            bpy.context.scene.torvel_tolerance = tol
            bpy.ops.mesh.torvel_select_non_planar()
            want = torvel.check(str(path), tol)["non_planar"]
            assert selected_faces(objs[0].data).tolist() == want, (path, tol)


def decorate(obj):
    """Gives the mesh everything a split must keep: materials, smooth flags, a face attribute, UVs, byte and
    float colours, custom split normals, and ids to find each piece's face and corner again."""
    me = obj.data
    rng = np.random.default_rng(7)
    nf, nl = len(me.polygons), len(me.loops)
    for name in ("M0", "M1", "M2"):
        me.materials.append(bpy.data.materials.get(name) or bpy.data.materials.new(name))
    me.polygons.foreach_set("material_index", (np.arange(nf) % 3).astype(np.int32))
    me.polygons.foreach_set("use_smooth", np.arange(nf) % 2 == 0)
    me.attributes.new("face_id", "INT", "FACE").data.foreach_set("value", np.arange(nf, dtype=np.int32))
    me.attributes.new("weight", "FLOAT", "FACE").data.foreach_set("value", rng.random(nf, np.float32))
    me.attributes.new("corner_id", "INT", "CORNER").data.foreach_set("value", np.arange(nl, dtype=np.int32))
    for name in ("UVMap", "Second"):
        me.uv_layers.new(name=name).data.foreach_set("uv", rng.random(nl * 2, np.float32))
    me.color_attributes.new("Bytes", "BYTE_COLOR", "CORNER").data.foreach_set(
        "color", np.round(rng.random(nl * 4) * 255).astype(np.float32) / 255
    )
    me.color_attributes.new("Floats", "FLOAT_COLOR", "CORNER").data.foreach_set("color", rng.random(nl * 4, np.float32))
    seams = np.zeros(len(me.edges), bool)
    seams[::3] = True
    me.edges.foreach_set("use_seam", seams)
    me.use_auto_smooth = True
    n = rng.normal(size=(nl, 3))
    me.normals_split_custom_set(n / np.linalg.norm(n, axis=1)[:, None])


def corner_data(me):
    nl, nf = len(me.loops), len(me.polygons)
    out = {}
    for uv in me.uv_layers:
        a = np.empty(nl * 2, np.float32)
        uv.data.foreach_get("uv", a)
        out["uv " + uv.name] = a.reshape(nl, 2)
    for c in me.color_attributes:
        a = np.empty(nl * 4, np.float32)
        c.data.foreach_get("color", a)
        out["colour " + c.name] = a.reshape(nl, 4)
    me.calc_normals_split()
    a = np.empty(nl * 3, np.float32)
    me.loops.foreach_get("normal", a)
    out["normal"] = a.reshape(nl, 3)
    faces = {}
    for name, attr, dtype in (("material", "material_index", np.int32), ("smooth", "use_smooth", bool)):
        a = np.empty(nf, dtype)
        me.polygons.foreach_get(attr, a)
        faces[name] = a
    for name in ("face_id", "weight"):
        attr = me.attributes[name]
        a = np.empty(nf, np.float32 if attr.data_type == "FLOAT" else np.int32)
        attr.data.foreach_get("value", a)
        faces[name] = a
    a = np.empty(nl, np.int32)
    me.attributes["corner_id"].data.foreach_get("value", a)
    return out, faces, a


# Blender stores a custom normal as two angles in its corner's normal space: from the automatic normal, and
# around it from a reference edge; a normal whose turn from that edge is under acos(1 - 1e-4) is stored on the
# edge's side. A piece's corner has a new space (its own normal, its own edges), so the normal its face's corner
# had is stored to within that angle (times the sine of its angle from the automatic normal), no better.
REFERENCE_SNAP = math.acos(1 - 1e-4)


def check_split_normals(me, got, want, on_piece, smooth):
    """Every corner's custom normal after a split against the one its source corner had: exact (to the
    stored angles' steps) on faces left whole and on flat pieces' corners away from their reference edge,
    within REFERENCE_SNAP of it on every corner."""
    assert np.degrees(np.arccos(np.clip(np.sum(got * want, 1), -1, 1))).max() <= math.degrees(REFERENCE_SNAP) + 0.1
    nl, nf = len(me.loops), len(me.polygons)
    sizes, starts = np.empty(nf, np.int64), np.empty(nf, np.int64)
    me.polygons.foreach_get("loop_total", sizes)
    me.polygons.foreach_get("loop_start", starts)
    face_normal = np.empty(nf * 3, np.float32)
    me.polygons.foreach_get("normal", face_normal)
    co, loop_vert = np.empty(len(me.vertices) * 3, np.float32), np.empty(nl, np.int64)
    me.vertices.foreach_get("co", co)
    me.loops.foreach_get("vertex_index", loop_vert)
    co = co.reshape(-1, 3).astype(np.float64)
    face = np.repeat(np.arange(nf), sizes)
    loop = np.arange(nl)
    # A flat face's corner: its space is the face's normal and the edge to the face's next corner.
    lnor = face_normal.reshape(-1, 3).astype(np.float64)[face]
    ref = co[loop_vert[starts[face] + (loop - starts[face] + 1) % sizes[face]]] - co[loop_vert]

    def across(v):
        v = v - lnor * np.sum(v * lnor, 1)[:, None]
        return v / np.linalg.norm(v, axis=1)[:, None]

    turn = np.arccos(np.clip(np.sum(across(ref) * across(want.astype(np.float64)), 1), -1, 1))
    exact = ~on_piece[face] | (~smooth[face] & (turn > REFERENCE_SNAP + 1e-3))
    assert np.count_nonzero(exact & on_piece[face]) > 0, "no piece's corner checked exactly"
    assert np.allclose(got[exact], want[exact], atol=2e-3), np.nonzero(exact & ~np.isclose(got, want, atol=2e-3).all(1))


def check_split(obj, tol, before, fix):
    """Everything a split must keep, on `obj` after the split of the mesh whose data was `before`."""
    me = obj.data
    pos0, sizes0, idx0, corners0, faces0, _, edges0 = before
    pos1, sizes1, idx1 = arrays(me)
    assert np.array_equal(pos0, pos1), "a vertex moved"
    # The old edges stay as they were, with their data; the new ones join corners of a piece, unmarked.
    edges1 = edge_data(me)
    for name, values in edges0.items():
        assert np.array_equal(edges1[name][: len(values)], values), name
    assert not edges1["seam"][len(edges0["seam"]) :].any()
    corners1, faces1, corner_id = corner_data(me)
    source = faces1["face_id"]
    # The pieces are fix_mesh's, face for face.
    counts = np.bincount(fix.source_face, minlength=len(sizes0))
    assert len(sizes1) == len(sizes0) + int(np.sum(counts[counts > 1] - 1)), (len(sizes1), counts)
    off0 = np.concatenate([[0], np.cumsum(sizes0)])
    off1 = np.concatenate([[0], np.cumsum(sizes1)])
    offf = np.concatenate([[0], np.cumsum(fix.face_sizes)])

    def pieces(off, idx, which):
        return sorted(tuple(idx[off[j] : off[j + 1]].tolist()) for j in which)

    for s in np.nonzero(counts > 1)[0].tolist():
        got = pieces(off1, idx1, np.nonzero(source == s)[0])
        want = pieces(offf, fix.face_indices, np.nonzero(fix.source_face == s)[0])
        assert got == want, (s, got, want)
    for name in faces0:
        if name != "face_id":
            assert np.array_equal(faces1[name], faces0[name][source]), name
    # Each corner came from a corner of its own face at the same vertex, and keeps that corner's values.
    face_of_loop0 = np.repeat(np.arange(len(sizes0)), sizes0)
    face_of_loop1 = np.repeat(np.arange(len(sizes1)), sizes1)
    assert np.array_equal(face_of_loop0[corner_id], source[face_of_loop1])
    assert np.array_equal(idx0[corner_id], idx1)
    for name, values in corners0.items():
        if name != "normal":
            assert np.array_equal(corners1[name], values[corner_id]), name
    check_split_normals(me, corners1["normal"], corners0["normal"][corner_id], counts[source] > 1, faces1["smooth"])
    # Left selected: exactly the faces fix could not repair, which the filter still reports.
    unrepaired = {int(i) for i, _ in fix.not_repaired}
    want_sel = np.nonzero(np.isin(source, list(unrepaired)))[0]
    assert np.array_equal(selected_faces(me), want_sel), (selected_faces(me), want_sel)
    assert np.array_equal(expected(obj, tol), want_sel), "Select Non-Planar after the split"
    assert not me.validate(verbose=True), "the split left an invalid mesh"
    return want_sel


def edge_data(me):
    verts, seam = np.empty(len(me.edges) * 2, np.int32), np.empty(len(me.edges), bool)
    me.edges.foreach_get("vertices", verts)
    me.edges.foreach_get("use_seam", seam)
    return {"vertices": verts.reshape(-1, 2), "seam": seam}


def snapshot(obj):
    pos, sizes, idx = arrays(obj.data)
    corners, faces, corner_id = corner_data(obj.data)
    return pos, sizes, idx, corners, faces, corner_id, edge_data(obj.data)


@test
def split_object_mode_keeps_everything_per_piece():
    clean_scene()
    grid = bent_grid("Grid", 20, 5, 0.3, seed=11)
    ngons = ngon_object("Ngons")
    for obj in (grid, ngons):
        decorate(obj)
    select_only(grid, ngons)
    tol = 5.0
    bpy.context.scene.torvel_tolerance = tol
    before = {o.name: snapshot(o) for o in (grid, ngons)}
    fixes = {o.name: torvel.fix_mesh(*arrays(o.data), tol) for o in (grid, ngons)}
    assert bpy.ops.mesh.torvel_split_non_planar() == {"FINISHED"}
    lines = bpy.context.scene.torvel_result.report.splitlines()
    for line, obj in zip(lines, (grid, ngons)):
        left = check_split(obj, tol, before[obj.name], fixes[obj.name])
        assert line.startswith(f"{obj.name}: "), line
        assert " faces split into " in line and line.count("face ") == len(left), line
    bpy.ops.mesh.torvel_select_non_planar()
    for obj in (grid, ngons):
        assert np.array_equal(selected_faces(obj.data), expected(obj, tol))


@test
def split_edit_mode_with_shape_keys():
    clean_scene()
    obj = ngon_object("Ngons")
    decorate(obj)
    obj.shape_key_add(name="Basis")
    key = obj.shape_key_add(name="Lifted")
    key.data[3].co = (5.0, 5.0, 5.0)
    select_only(obj)
    tol = 10.0
    bpy.context.scene.torvel_tolerance = tol
    before = snapshot(obj)
    fix = torvel.fix_mesh(*arrays(obj.data), tol)
    assert len(fix.face_sizes) > len(before[1]), "the n-gons must need splitting"
    bpy.ops.object.mode_set(mode="EDIT")
    assert bpy.ops.mesh.torvel_split_non_planar() == {"FINISHED"}
    bpy.ops.object.mode_set(mode="OBJECT")
    check_split(obj, tol, before, fix)
    blocks = obj.data.shape_keys.key_blocks
    assert [k.name for k in blocks] == ["Basis", "Lifted"]
    assert tuple(blocks["Lifted"].data[3].co) == (5.0, 5.0, 5.0)


@test
def split_keeps_whole_a_face_whose_pieces_leave_it():
    # Pieces that take a vertex their face does not have cannot carry its corners: that face stays whole,
    # named with the reason, and the others are split as fix says.
    from types import SimpleNamespace

    from torvel_blender import meshdata

    clean_scene()
    obj = ngon_object("Ngons")
    decorate(obj)
    me = obj.data
    before = arrays(me)
    real = torvel.fix_mesh(*before, 10.0)
    counts = np.bincount(real.source_face, minlength=len(before[1]))
    split = np.nonzero(counts > 1)[0]
    assert len(split) >= 2, split
    indices = real.face_indices.copy()
    first_piece = int(np.nonzero(real.source_face == split[0])[0][0])
    indices[int(np.sum(real.face_sizes[:first_piece]))] = before[2][-1]  # the triangle's last vertex
    fake = SimpleNamespace(
        source_face=real.source_face, face_sizes=real.face_sizes, face_indices=indices, split=real.split
    )
    _, _, new_source, kept = meshdata.split(me, meshdata.read(me), fake)
    assert list(kept) == [split[0]] and "a vertex it lacks" in kept[split[0]], kept
    got = np.bincount(new_source, minlength=len(counts))
    want = counts.copy()
    want[split[0]] = 1
    assert np.array_equal(got, np.maximum(want, 1)), (got, counts)
    assert np.array_equal(arrays(me)[0], before[0]), "a vertex moved"
    assert not me.validate(verbose=True)


@test
def bad_cases_report_without_traceback():
    clean_scene()
    empty = mesh_object("Empty", [], [])
    loose = mesh_object("Loose", [(0, 0, 0), (1, 0, 0)], [])
    select_only(empty, loose)
    for op in (bpy.ops.mesh.torvel_select_non_planar, bpy.ops.mesh.torvel_split_non_planar):
        assert op() == {"FINISHED"}
        assert bpy.context.scene.torvel_result.report.splitlines() == [
            "Empty: the mesh has no faces",
            "Loose: the mesh has no faces",
        ]
    cam = bpy.data.objects.new("Camera", bpy.data.cameras.new("Camera"))
    bpy.context.scene.collection.objects.link(cam)
    for objects, message in (((cam,), "Camera is not a mesh"), ((), "no mesh object selected")):
        select_only(*objects)
        for op in (bpy.ops.mesh.torvel_select_non_planar, bpy.ops.mesh.torvel_split_non_planar):
            try:
                op()
            except RuntimeError as e:
                assert message in str(e) and "Traceback" not in str(e), str(e)
            else:
                raise AssertionError(f"{op} ran on {objects}")


@test
def undo_restores_the_mesh():
    if bpy.app.background:
        print("  (skipped in the background: Blender keeps no undo stack without a window)")
        return
    clean_scene()
    obj = ngon_object("Ngons")
    select_only(obj)
    obj.data.polygons.foreach_set("select", np.ones(len(obj.data.polygons), bool))
    bpy.ops.ed.undo_push(message="set-up")
    # The selection in Object Mode tags nothing for re-evaluation; undo must still bring the old one back.
    bpy.context.scene.torvel_tolerance = 10.0
    assert bpy.ops.mesh.torvel_select_non_planar("EXEC_DEFAULT", True) == {"FINISHED"}  # pushes its undo step
    assert 0 < len(selected_faces(bpy.data.objects["Ngons"].data)) < len(obj.data.polygons)
    bpy.ops.ed.undo()
    obj = bpy.data.objects["Ngons"]
    assert len(selected_faces(obj.data)) == len(obj.data.polygons), selected_faces(obj.data)
    for mode in ("OBJECT", "EDIT"):
        bpy.ops.object.mode_set(mode=mode)
        bpy.ops.ed.undo_push(message=mode)
        obj = bpy.data.objects["Ngons"]
        obj.update_from_editmode()
        faces = len(obj.data.polygons)
        bpy.context.scene.torvel_tolerance = 10.0
        assert bpy.ops.mesh.torvel_split_non_planar() == {"FINISHED"}
        obj = bpy.data.objects["Ngons"]
        obj.update_from_editmode()
        assert len(obj.data.polygons) > faces
        bpy.ops.ed.undo()  # one step takes the whole split back
        obj = bpy.data.objects["Ngons"]
        obj.update_from_editmode()
        assert len(obj.data.polygons) == faces, (mode, len(obj.data.polygons), faces)
        bpy.ops.object.mode_set(mode="OBJECT")


def main():
    addon_utils.enable("torvel_blender", default_set=True)
    failed = 0
    for fn in TESTS:
        start = time.perf_counter()
        try:
            fn()
        except Exception:
            failed += 1
            print(f"FAIL {fn.__name__}")
            traceback.print_exc()
        else:
            print(f"ok   {fn.__name__} ({time.perf_counter() - start:.2f} s)")
    print(f"{len(TESTS) - failed} of {len(TESTS)} add-on tests passed")
    sys.stdout.flush()
    if not bpy.app.background:
        os._exit(1 if failed else 0)  # the script's end would leave the window open; no session file written
    sys.exit(1 if failed else 0)


main()
