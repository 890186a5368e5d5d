"""The operators: Select Non-Planar, Split Non-Planar, and the panel's select-one-face."""

import bmesh
import bpy
import numpy as np

from . import meshdata

BANDS = (0.0, 1.0, 2.0, 5.0, 10.0, 20.0, 45.0, 90.0)
WORST = 10


class Refusal(Exception):
    """Why an operator cannot run, reported to the user as it is."""


def torvel_module():
    try:
        import torvel
    except ImportError as e:
        raise Refusal(
            "the torvel Python module is not installed for /usr/bin/python3, the interpreter Blender runs "
            f"({e}); install it with the project's cmake --install"
        ) from None
    return torvel


def tolerance_of(scene):
    """The scene's tolerance as the decimal shown in the field (the property is stored as float32)."""
    return float(np.format_float_positional(np.float32(scene.torvel_tolerance), trim="-"))


def format_degrees(value):
    text = repr(float(value))
    return text[:-2] if text.endswith(".0") else text


def target_objects(context):
    """(meshes to work on, whether they are in Edit Mode), one object per mesh data; or a Refusal."""
    if context.mode == "EDIT_MESH":
        objects, edit = list(context.objects_in_mode_unique_data), True
    elif context.mode == "OBJECT":
        objects, edit = [o for o in context.selected_objects if o.type == "MESH"], False
        seen = set()
        objects = [o for o in objects if not (o.data in seen or seen.add(o.data))]
    else:
        raise Refusal("works in Edit Mode or Object Mode")
    if not objects:
        active = context.active_object
        if active is not None and active.type != "MESH":
            raise Refusal(f"{active.name} is not a mesh; select mesh objects")
        raise Refusal("no mesh object selected")
    return objects, edit


def read_arrays(obj, edit):
    if edit:
        obj.update_from_editmode()  # polygon i of the mesh is then face i of the edit mesh
    return meshdata.read(obj.data)


def set_face_select_mode(context, meshes_in_edit):
    context.tool_settings.mesh_select_mode = (False, False, True)
    for bm in meshes_in_edit:
        bm.select_mode = {"FACE"}


class Summary:
    """The last run's figures, kept in Scene.torvel_result for the panel."""

    def __init__(self, operation, tolerance):
        self.operation, self.tolerance = operation, tolerance
        self.objects, self.lines = [], []
        self.band_counts = [0] * (len(BANDS) - 1)
        self.degenerate = 0
        self.candidates = []  # (bend, object order, face, object name)

    def add_measures(self, order, name, arrays, check):
        d = check.describe()
        bend = np.asarray(d["bend"], np.float64)
        many = arrays.face_sizes >= 4
        degenerate = np.asarray(d["degenerate_corner"]) >= 0
        self.degenerate += int(np.count_nonzero(many & degenerate))
        finite = many & np.isfinite(bend)
        edges = np.array(BANDS)
        b = np.clip(np.searchsorted(edges, bend[finite], side="right") - 1, 0, len(BANDS) - 2)
        for k, n in enumerate(np.bincount(b, minlength=len(BANDS) - 1).tolist()):
            self.band_counts[k] += n
        faces = np.nonzero(finite)[0]
        if len(faces):
            if len(faces) > WORST:  # the faces at least as bent as the tenth worst, ties and all
                faces = faces[bend[faces] >= -np.partition(-bend[faces], WORST - 1)[WORST - 1]]
            worst = faces[np.lexsort((faces, -bend[faces]))[:WORST]]
            self.candidates += [(float(bend[f]), order, int(f), name) for f in worst.tolist()]

    def store(self, scene):
        r = scene.torvel_result
        r.operation, r.tolerance = self.operation, self.tolerance
        r.objects.clear()
        for name, faces, reported, pieces, kept in self.objects:
            o = r.objects.add()
            o.name, o.faces, o.reported, o.pieces, o.not_repaired = name, faces, reported, pieces, kept
        r.bands.clear()
        if self.operation == "select":
            for k, n in enumerate(self.band_counts):
                band = r.bands.add()
                band.name, band.polygons = f"{format_degrees(BANDS[k])}-{format_degrees(BANDS[k + 1])}°", n
            band = r.bands.add()
            band.name, band.polygons = "degenerate", self.degenerate
        r.worst.clear()
        for bend, _, face, name in sorted(self.candidates, key=lambda c: (-c[0], c[1], c[2]))[:WORST]:
            w = r.worst.add()
            w.name, w.object, w.face, w.bend = f"{name} face {face}", name, face, bend
        r.report = "\n".join(self.lines)


class TORVEL_OT_select_non_planar(bpy.types.Operator):
    """Select the faces the plug-in's filter reports as non-planar at the scene's tolerance (base mesh)"""

    bl_idname = "mesh.torvel_select_non_planar"
    bl_label = "Select Non-Planar"
    bl_options = {"REGISTER", "UNDO"}

    def execute(self, context):
        try:
            return self.run(context)
        except Refusal as e:
            self.report({"ERROR"}, f"Select Non-Planar: {e}")
            return {"CANCELLED"}

    def run(self, context):
        torvel = torvel_module()
        objects, edit = target_objects(context)
        tol = tolerance_of(context.scene)
        summary = Summary("select", tol)
        chosen = []
        for order, obj in enumerate(objects):
            arrays = read_arrays(obj, edit)
            if arrays.faces == 0:
                line = f"{obj.name}: the mesh has no faces"
                summary.objects.append((obj.name, 0, 0, 0, 0))
                reported = np.zeros(0, np.int64)
            else:
                try:
                    check = torvel.check_mesh(arrays.positions, arrays.face_sizes, arrays.face_indices, tol)
                except (torvel.Error, ValueError) as e:
                    raise Refusal(f"{obj.name}: {e}") from None
                reported = np.asarray(check.non_planar, np.int64)
                line = f"{obj.name}: {len(reported)} of {arrays.faces} faces non-planar at {format_degrees(tol)}°"
                summary.objects.append((obj.name, arrays.faces, len(reported), 0, 0))
                summary.add_measures(order, obj.name, arrays, check)
            summary.lines.append(line)
            chosen.append((obj, arrays, reported))
        if edit:
            bpy.ops.mesh.select_all(action="DESELECT")
            edited = []
            for obj, _, reported in chosen:
                bm = bmesh.from_edit_mesh(obj.data)
                meshdata.select_faces_bmesh(bm, reported)
                edited.append(bm)
            set_face_select_mode(context, edited)
            for obj, _, _ in chosen:
                bmesh.update_edit_mesh(obj.data, loop_triangles=False, destructive=False)
        else:
            for obj, arrays, reported in chosen:
                meshdata.select_faces(obj.data, arrays, reported)
            set_face_select_mode(context, [])
        summary.store(context.scene)
        for line in summary.lines:
            self.report({"INFO"}, line)
        return {"FINISHED"}


class TORVEL_OT_split_non_planar(bpy.types.Operator):
    """Split each face the plug-in's filter reports into the planar pieces torvel finds, adding edges only;
    the faces that cannot be repaired stay selected"""

    bl_idname = "mesh.torvel_split_non_planar"
    bl_label = "Split Non-Planar"
    bl_options = {"REGISTER", "UNDO"}

    def execute(self, context):
        try:
            return self.run(context)
        except Refusal as e:
            self.report({"ERROR"}, f"Split Non-Planar: {e}")
            return {"CANCELLED"}

    def run(self, context):
        torvel = torvel_module()
        objects, edit = target_objects(context)
        tol = tolerance_of(context.scene)
        summary = Summary("split", tol)
        # Every object's pieces are computed before any mesh changes, so a refusal leaves all as they were.
        fixes = []
        for obj in objects:
            arrays = read_arrays(obj, edit)
            fix = None
            if arrays.faces:
                try:
                    fix = torvel.fix_mesh(arrays.positions, arrays.face_sizes, arrays.face_indices, tol)
                except (torvel.Error, ValueError) as e:
                    raise Refusal(f"{obj.name}: {e}") from None
            fixes.append((obj, arrays, fix))
        edited = []
        for obj, arrays, fix in fixes:
            if fix is None:
                summary.lines.append(f"{obj.name}: the mesh has no faces")
                summary.objects.append((obj.name, 0, 0, 0, 0))
                continue
            line, bm = self.split_one(obj, arrays, fix, edit, summary)
            summary.lines.append(line)
            if bm is not None:
                edited.append(bm)
        set_face_select_mode(context, edited)
        summary.store(context.scene)
        for line in summary.lines:
            self.report({"INFO"}, line)
        return {"FINISHED"}

    @staticmethod
    def split_one(obj, arrays, fix, edit, summary):
        me = obj.data
        reasons = {int(i): str(r) for i, r in fix.not_repaired}
        # In Edit Mode the split is made on a copy of the mesh, then loaded into the edit mesh in one go.
        target = me.copy() if edit else me
        try:
            new_arrays, loop_edge, new_source, kept = meshdata.split(target, arrays, fix)
            reasons.update(kept)
            unrepaired = np.nonzero(np.isin(new_source, np.fromiter(reasons, np.int64, len(reasons))))[0]
            meshdata.select_faces(target, new_arrays, unrepaired, loop_edge)
            bm = None
            if edit:
                bm = bmesh.from_edit_mesh(me)
                bm.clear()
                bm.from_mesh(target)
                bmesh.update_edit_mesh(me, loop_triangles=True, destructive=True)
        finally:
            if edit:
                bpy.data.meshes.remove(target)
        split_faces = np.unique(fix.source_face[np.bincount(fix.source_face)[fix.source_face] > 1])
        split_faces = [f for f in split_faces.tolist() if f not in reasons]
        pieces = int(np.count_nonzero(np.isin(new_source, split_faces)))
        summary.objects.append((obj.name, arrays.faces, len(split_faces) + len(reasons), pieces, len(reasons)))
        line = (
            f"{obj.name}: {len(split_faces)} of {arrays.faces} faces split into {pieces} pieces "
            f"at {format_degrees(summary.tolerance)}°"
        )
        if reasons:
            named = ", ".join(f"face {int(n)} ({reasons[int(new_source[n])]})" for n in unrepaired.tolist())
            line += f"; {len(unrepaired)} not repaired, left selected: {named}"
        return line, bm


class TORVEL_OT_select_face(bpy.types.Operator):
    """Select this face alone and frame it in the view"""

    bl_idname = "mesh.torvel_select_face"
    bl_label = "Select Face"
    bl_options = {"REGISTER", "UNDO"}

    object: bpy.props.StringProperty(name="Object")
    face: bpy.props.IntProperty(name="Face", min=0)

    def execute(self, context):
        obj = context.scene.objects.get(self.object)
        if obj is None or obj.type != "MESH":
            self.report({"ERROR"}, f"{self.object} is no longer a mesh object of this scene")
            return {"CANCELLED"}
        if context.mode not in ("OBJECT", "EDIT_MESH"):
            self.report({"ERROR"}, "works in Edit Mode or Object Mode")
            return {"CANCELLED"}
        if context.mode == "EDIT_MESH" and obj not in context.objects_in_mode:
            bpy.ops.object.mode_set(mode="OBJECT")
        if context.mode == "OBJECT":
            for o in context.selected_objects:
                o.select_set(False)
            obj.select_set(True)
            context.view_layer.objects.active = obj
            bpy.ops.object.mode_set(mode="EDIT")
        bm = bmesh.from_edit_mesh(obj.data)
        if self.face >= len(bm.faces):
            self.report({"ERROR"}, f"{obj.name} has no face {self.face} any more; run Select Non-Planar again")
            return {"CANCELLED"}
        bpy.ops.mesh.select_all(action="DESELECT")
        set_face_select_mode(context, [bm])
        meshdata.select_faces_bmesh(bm, [self.face])
        bmesh.update_edit_mesh(obj.data, loop_triangles=False, destructive=False)
        if context.area is not None and context.area.type == "VIEW_3D":
            bpy.ops.view3d.view_selected()
        return {"FINISHED"}


classes = (TORVEL_OT_select_non_planar, TORVEL_OT_split_non_planar, TORVEL_OT_select_face)
