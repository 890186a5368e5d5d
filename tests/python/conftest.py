"""Shared helpers: the torvel program to compare with, the bundled examples and generated meshes."""

import json
import os
import pathlib
import subprocess

import numpy as np
import pytest

import torvel

EXE = os.environ.get("TORVEL_EXE", "torvel")
EXAMPLES = pathlib.Path(os.environ.get("TORVEL_EXAMPLES", pathlib.Path(__file__).parents[2] / "examples"))
EXAMPLE_MESHES = sorted(p for p in EXAMPLES.iterdir() if p.suffix in (".obj", ".ply", ".off"))


def run_cli(*args, cwd=None):
    """(exit code, stdout) of the torvel program."""
    done = subprocess.run([EXE, *map(str, args)], capture_output=True, text=True, cwd=cwd)
    return done.returncode, done.stdout


def cli_json(*args, cwd=None):
    """The JSON document the program prints for `args` (a check or fix with --format json)."""
    code, out = run_cli(*args, "--format", "json", cwd=cwd)
    assert code in (0, 1, 2), out
    return json.loads(out)


class Mesh:
    """A generated mesh: positions (N, 3), face sizes, face indices and the objects (name, first, count)."""

    def __init__(self, positions, faces, objects=None):
        self.positions = np.asarray(positions, dtype=np.float64).reshape(-1, 3)
        self.faces = [list(f) for f in faces]
        self.objects = objects

    @property
    def sizes(self):
        return np.array([len(f) for f in self.faces], dtype=np.int64)

    @property
    def indices(self):
        return np.array([i for f in self.faces for i in f], dtype=np.int64)

    def write_obj(self, path):
        lines = ["v %r %r %r" % tuple(p) for p in self.positions.tolist()]
        starts = {first: name for name, first, _ in self.objects or []}
        for k, face in enumerate(self.faces):
            if k in starts:
                lines.append("o " + starts[k])
            lines.append("f " + " ".join(str(i + 1) for i in face))
        pathlib.Path(path).write_text("\n".join(lines) + "\n")
        return path


def generated_mesh(seed=1, quads=12, ngons=6, objects=False):
    """Bent and flat quads, n-gons of 5 to 9 corners, degenerate faces (collinear corners, a repeated
    vertex) and triangles, over shared vertices; some quads bent by exactly set angles."""
    rng = np.random.default_rng(seed)
    positions, faces = [], []

    def add(points):
        first = len(positions)
        positions.extend(points)
        faces.append(list(range(first, first + len(points))))

    for q in range(quads):
        x = 2.0 * q
        lift = 0.0 if q % 3 == 0 else rng.uniform(0.0, 1.5)
        add([(x, 0, 0), (x + 1, 0, 0), (x + 1, 1, lift), (x, 1, 0)])
    for n in range(5, 5 + ngons):
        angles = np.linspace(0, 2 * np.pi, n, endpoint=False)
        wobble = rng.uniform(-0.3, 0.3, n) if n % 2 else np.zeros(n)
        add([(np.cos(a) + 4 * n, np.sin(a) + 5, w) for a, w in zip(angles, wobble)])
    add([(0, 10, 0), (1, 10, 0), (2, 10, 0), (1, 11, 0)])  # collinear corner
    first = len(positions)
    positions.extend([(0, 12, 0), (1, 12, 0), (1, 13, 0.5)])
    faces.append([first, first + 1, first + 1, first + 2])  # zero-length edge
    add([(5, 10, 0), (6, 10, 1), (5, 11, 2)])  # a triangle: never reported
    groups = None
    if objects:
        count = len(faces)
        groups = [("Left", 0, quads // 2), ("Right.1", quads // 2, count - quads // 2 - 3), ("shapes", count - 3, 3)]
    return Mesh(positions, faces, groups)


@pytest.fixture(scope="session")
def mesh_file(tmp_path_factory):
    """A generated mesh (with objects) and the OBJ file that holds it."""
    mesh = generated_mesh(objects=True)
    return mesh, mesh.write_obj(tmp_path_factory.mktemp("meshes") / "generated.obj")


@pytest.fixture(autouse=True)
def _plugin_from_build():
    assert os.environ.get("TORVEL_PLUGIN"), "run through ctest: TORVEL_PLUGIN names the built plug-in"
    assert torvel.plugin_path() == os.environ["TORVEL_PLUGIN"]
