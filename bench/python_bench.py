#!/usr/bin/python3
"""The Python module against the torvel program on one mesh file, fresh processes in turns.

    /usr/bin/python3 bench/python_bench.py MESH.obj BUILD_DIR [ROUNDS]

Prints one line per target as bench/report.py does, each the fastest of ROUNDS, in turns:
  python_check_vs_cli_1e6       the torvel.check(MESH) call (perf_counter around it, after `import torvel`, in
                                a fresh interpreter) / the wall time of `torvel check MESH`;
  python_check_mesh_vs_cli_1e6  the check_mesh call on MESH's arrays already in numpy / the same;
  python_check_mesh_peak        the call's peak resident memory above the arrays, against the scene's mesh
                                (positions, offsets, indices), with describe=True (the default) and False.
                                Reported, not a pass/fail target.
Also the whole processes' wall times (interpreter start and imports included), for a script that runs one
call only.
"""

import json
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

MEASURE_CHECK = r"""
import json, sys, time
import torvel
start = time.perf_counter()
result = torvel.check(sys.argv[1])
print(json.dumps({"call": time.perf_counter() - start, "non_planar": len(result["non_planar"])}))
"""

MEASURE_MESH = r"""
import json, sys, time
import numpy as np
import torvel
arrays = np.load(sys.argv[1])
positions, sizes, indices = arrays["positions"], arrays["sizes"], arrays["indices"]
def status(field):
    for line in open("/proc/self/status"):
        if line.startswith(field + ":"):
            return int(line.split()[1]) * 1024
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # resets VmHWM, the peak resident set, to the present one
before = status("VmRSS")
start = time.perf_counter()
result = torvel.check_mesh(positions, sizes, indices, describe=sys.argv[2] == "1")
call = time.perf_counter() - start
print(json.dumps({"call": call, "peak": status("VmHWM") - before, "non_planar": len(result.non_planar)}))
"""


def obj_arrays(path):
    """positions, face sizes and face indices of an OBJ of `v X Y Z` and `f I J K ...` lines."""
    vertices, sizes, indices = [], [], []
    with open(path) as f:
        for line in f:
            if line.startswith("v "):
                vertices.append(line[2:])
            elif line.startswith("f "):
                corners = line.split()[1:]
                sizes.append(len(corners))
                indices.extend(corners)
    positions = np.array(" ".join(vertices).split(), dtype=np.float64).reshape(-1, 3)
    return positions, np.array(sizes, dtype=np.int64), np.array(indices, dtype=np.int64) - 1


def timed(command, env):
    """(wall seconds of the child, its stdout)."""
    start = time.perf_counter()
    done = subprocess.run(command, env=env, capture_output=True, text=True)
    wall = time.perf_counter() - start
    assert done.returncode in (0, 1), done.stderr  # 1: the check reported polygons
    return wall, done.stdout


def line(name, value, limit, unit="x"):
    ok = value <= limit
    return f"{name}: {value:.2f}{unit} (target <= {limit}{unit}) {'ok' if ok else 'MISSED'}", ok


def main(mesh, build, rounds=5):
    env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"),
               TORVEL_PLUGIN=os.path.join(build, "plugin", "poly_torvel_filer.so"))
    exe = os.path.join(build, "app", "torvel")
    with tempfile.TemporaryDirectory() as tmp:
        npz = os.path.join(tmp, "mesh.npz")
        positions, sizes, indices = obj_arrays(mesh)
        np.savez(npz, positions=positions, sizes=sizes, indices=indices)
        scene = positions.nbytes + 4 * (len(sizes) + 1) + 4 * len(indices)
        cli, check, check_wall, mesh_call, mesh_wall = [], [], [], [], []
        peak = {"1": [], "0": []}
        for _ in range(rounds):
            wall, out = timed([exe, "check", mesh, "--format", "json"], env)
            cli.append(wall)
            want = len(json.loads(out)["files"][0]["non_planar"])
            wall, out = timed([sys.executable, "-c", MEASURE_CHECK, mesh], env)
            measured = json.loads(out)
            assert measured["non_planar"] == want, (measured, want)
            check.append(measured["call"])
            check_wall.append(wall)
            for describe in ("1", "0"):
                wall, out = timed([sys.executable, "-c", MEASURE_MESH, npz, describe], env)
                measured = json.loads(out)
                assert measured["non_planar"] == want
                peak[describe].append(measured["peak"])
                if describe == "1":
                    mesh_call.append(measured["call"])
                    mesh_wall.append(wall)
    lines = [line("python_check_vs_cli_1e6", min(check) / min(cli), 1.1),
             line("python_check_mesh_vs_cli_1e6", min(mesh_call) / min(cli), 0.6)]
    print("\n".join(text for text, _ in lines))
    print(f"python whole processes / torvel check: torvel.check {min(check_wall) / min(cli):.2f}x, "
          f"check_mesh {min(mesh_wall) / min(cli):.2f}x (the arrays loaded from .npz included)")
    described, bare = min(peak["1"]), min(peak["0"])
    print(f"python_check_mesh_peak: {described / 2**20:.1f} MB above the arrays with describe=True "
          f"({described / scene:.2f}x), {bare / 2**20:.1f} MB with describe=False ({bare / scene:.2f}x); the scene's "
          f"mesh {scene / 2**20:.1f} MB")
    print(f"wall: torvel check {min(cli):.3f} s; calls: torvel.check {min(check):.3f} s, check_mesh "
          f"{min(mesh_call):.3f} s; processes: {min(check_wall):.3f} s, {min(mesh_wall):.3f} s")
    return 0 if all(ok for _, ok in lines) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], *(int(a) for a in sys.argv[3:4])))
