"""Torvel for Blender: select and split the faces the poly_torvel_filer plug-in reports as non-planar.

The verdict is the plug-in's, through the torvel Python module (installed for /usr/bin/python3, the
interpreter Debian's Blender runs). Blender's face i is polygon i of the mesh given to torvel: the base
mesh, its vertex coordinates in object space as Blender stores them, not the mesh modifiers make.
"""

bl_info = {
    "name": "Torvel: non-planar faces",
    "author": "torvel",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "3D View > Sidebar > Torvel",
    "description": "Select and split the faces the poly_torvel_filer plug-in reports as non-planar",
    "category": "Mesh",
}

import bpy

from . import operators, panel

# Only when the torvel module is missing, and then both operators refuse to run anyway.
FALLBACK_TOLERANCE = 45.0


def plugin_default_tolerance():
    """The plug-in property's own default for its tolerance parameter, as the plug-in defines it."""
    try:
        import torvel

        for p in torvel.plugin_info()["property"]["parameters"]:
            if p["script_name"] == "def":
                return float(p["default"])
    except Exception:  # a missing module or plug-in must not stop the add-on from registering
        pass
    return FALLBACK_TOLERANCE


class TorvelObjectResult(bpy.types.PropertyGroup):
    faces: bpy.props.IntProperty()
    reported: bpy.props.IntProperty()
    pieces: bpy.props.IntProperty()
    not_repaired: bpy.props.IntProperty()


class TorvelBand(bpy.types.PropertyGroup):
    polygons: bpy.props.IntProperty()


class TorvelWorstFace(bpy.types.PropertyGroup):
    object: bpy.props.StringProperty()
    face: bpy.props.IntProperty()
    bend: bpy.props.FloatProperty()


class TorvelResult(bpy.types.PropertyGroup):
    operation: bpy.props.StringProperty()
    tolerance: bpy.props.FloatProperty()
    objects: bpy.props.CollectionProperty(type=TorvelObjectResult)
    bands: bpy.props.CollectionProperty(type=TorvelBand)
    worst: bpy.props.CollectionProperty(type=TorvelWorstFace)
    report: bpy.props.StringProperty()


classes = (TorvelObjectResult, TorvelBand, TorvelWorstFace, TorvelResult) + operators.classes + panel.classes


def register():
    for cls in classes:
        bpy.utils.register_class(cls)
    bpy.types.Scene.torvel_tolerance = bpy.props.FloatProperty(
        name="Tolerance",
        description="Bend angle in degrees at which the plug-in's filter reports a face",
        default=plugin_default_tolerance(),
        min=0.0,
        max=90.0,
        precision=2,
    )
    bpy.types.Scene.torvel_result = bpy.props.PointerProperty(type=TorvelResult)


def unregister():
    del bpy.types.Scene.torvel_result
    del bpy.types.Scene.torvel_tolerance
    for cls in reversed(classes):
        bpy.utils.unregister_class(cls)
