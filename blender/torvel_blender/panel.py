"""The 3D view sidebar's Torvel tab."""

import bpy

from .operators import format_degrees


class TORVEL_PT_panel(bpy.types.Panel):
    bl_label = "Non-Planar Faces"
    bl_space_type = "VIEW_3D"
    bl_region_type = "UI"
    bl_category = "Torvel"

    def draw(self, context):
        layout = self.layout
        scene = context.scene
        layout.prop(scene, "torvel_tolerance")
        row = layout.row(align=True)
        row.operator("mesh.torvel_select_non_planar")
        row.operator("mesh.torvel_split_non_planar")
        note = layout.column(align=True)
        note.label(text="Checks the base mesh, before modifiers;", icon="INFO")
        note.label(text="face i is the mesh's polygon i")

        r = scene.torvel_result
        if not r.operation:
            return
        box = layout.box()
        box.label(text=f"Last {'selection' if r.operation == 'select' else 'split'} at {format_degrees(r.tolerance)}°")
        for o in r.objects:
            if r.operation == "select":
                box.label(text=f"{o.name}: {o.reported} of {o.faces} non-planar")
            else:
                box.label(text=f"{o.name}: {o.pieces} pieces, {o.not_repaired} not repaired")
        if len(r.bands):
            col = box.column(align=True)
            col.label(text="Bend of faces of 4 or more vertices:")
            for band in r.bands:
                split = col.split(factor=0.6)
                split.label(text=band.name)
                split.label(text=str(band.polygons))
        if len(r.worst):
            col = box.column(align=True)
            col.label(text="Worst faces:")
            for w in r.worst:
                op = col.operator("mesh.torvel_select_face", text=f"{w.name}: {w.bend:.2f}°")
                op.object, op.face = w.object, w.face


classes = (TORVEL_PT_panel,)
