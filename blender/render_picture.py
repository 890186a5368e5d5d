"""Renders the README's picture of the add-on at work, with Workbench:

    PATH=/usr/bin:/bin xvfb-run -a blender -b --factory-startup --python blender/render_picture.py -- OUT.png

A bent grid and a row of n-gons; Select Non-Planar at 10°, then the selected faces are drawn red and the
others grey. Needs the add-on (this folder) and the torvel package importable.
"""

import math
import sys
from pathlib import Path

import bpy
import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
import addon_utils  # noqa: E402

out = Path(sys.argv[sys.argv.index("--") + 1]).resolve()
addon_utils.enable("torvel_blender", default_set=True)

scene = bpy.context.scene
for o in list(bpy.data.objects):
    bpy.data.objects.remove(o)

rng = np.random.default_rng(5)
n = 12
xs, ys = np.meshgrid(np.arange(n + 1, dtype=float), np.arange(n + 1, dtype=float))
zs = np.zeros_like(xs)
lift = rng.random(zs.shape) < 0.12
zs[lift] = 0.35
verts = np.stack([xs.ravel(), ys.ravel(), zs.ravel()], 1).tolist()
faces = [[j * (n + 1) + i, j * (n + 1) + i + 1, (j + 1) * (n + 1) + i + 1, (j + 1) * (n + 1) + i] for j in range(n) for i in range(n)]
grid = bpy.data.meshes.new("Grid")
grid.from_pydata(verts, [], faces)
ngon_verts, ngon_faces = [], []
for k, (sides, bend) in enumerate([(5, 0.0), (6, 0.5), (7, 0.1), (8, 1.2)]):
    base = len(ngon_verts)
    for s in range(sides):
        a = 2 * math.pi * s / sides
        ngon_verts.append((2.6 * k + 1.2 + math.cos(a), -2.0 + math.sin(a), bend if s == 1 else 0.0))
    ngon_faces.append(list(range(base, base + sides)))
ngons = bpy.data.meshes.new("Ngons")
ngons.from_pydata(ngon_verts, [], ngon_faces)
objects = [bpy.data.objects.new(m.name, m) for m in (grid, ngons)]
for o in objects:
    scene.collection.objects.link(o)
    o.select_set(True)
bpy.context.view_layer.objects.active = objects[0]

scene.torvel_tolerance = 10.0
bpy.ops.mesh.torvel_select_non_planar()
print(scene.torvel_result.report)

grey = bpy.data.materials.new("planar")
grey.diffuse_color = (0.62, 0.62, 0.62, 1)
red = bpy.data.materials.new("non_planar")
red.diffuse_color = (0.85, 0.08, 0.06, 1)
for o in objects:
    me = o.data
    me.materials.append(grey)
    me.materials.append(red)
    sel = np.empty(len(me.polygons), bool)
    me.polygons.foreach_get("select", sel)
    me.polygons.foreach_set("material_index", sel.astype(np.int32))

scene.render.engine = "BLENDER_WORKBENCH"
shading = scene.display.shading
shading.light, shading.color_type = "STUDIO", "MATERIAL"
shading.show_object_outline = False
scene.display.shading.show_cavity = False
bpy.context.scene.world = bpy.data.worlds.new("World")
scene.world.color = (1, 1, 1)
scene.render.resolution_x, scene.render.resolution_y = 900, 600
scene.render.film_transparent = False
# Flat colours: an RGB picture at full compression stays small for the README.
scene.render.image_settings.color_mode = "RGB"
scene.render.image_settings.compression = 100
scene.render.dither_intensity = 0  # dither noise would not compress
cam = bpy.data.objects.new("Camera", bpy.data.cameras.new("Camera"))
scene.collection.objects.link(cam)
cam.location = (6.0, -14.0, 11.0)
target = np.array([6.0, 4.0, 0.0])
direction = target - np.array(cam.location)
cam.rotation_euler = (math.atan2(math.hypot(direction[0], direction[1]), -direction[2]), 0.0, math.atan2(direction[1], direction[0]) - math.pi / 2)
cam.data.lens = 34
scene.camera = cam
scene.render.filepath = str(out)
bpy.ops.render.render(write_still=True)
print(f"wrote {out}")
