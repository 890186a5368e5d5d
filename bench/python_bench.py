#!/usr/bin/python3
"""The Python module against the torvel program on one mesh file, fresh processes in turns.

    /usr/bin/python3 bench/python_bench.py MESH.obj BUILD_DIR [ROUNDS]

Prints one line per target as bench/report.py does:
  python_check_vs_cli_1e6       torvel.check(MESH) in a fresh interpreter / `torvel check MESH`, CPU time
                                of the whole process (user + system, all threads), fastest of each;
  python_check_mesh_vs_cli_1e6  the check_mesh call on MESH's arrays already in numpy / `torvel check MESH`;
  python_check_mesh_peak        the call's peak resident memory above the arrays, against the scene's mesh
                                (positions, offsets, indices). Reported, not a pass/fail target.
"""

import json
import os
import resource
import subprocess
import sys
import tempfile

import numpy as np

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
start = time.process_time()
result = torvel.check_mesh(positions, sizes, indices)
cpu = time.process_time() - start
print(json.dumps({"cpu": cpu, "peak": status("VmHWM") - before, "non_planar": len(result.non_planar)}))
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


def cpu_of(command, env):
    """(CPU seconds of the child, its stdout)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    done = subprocess.run(command, env=env, capture_output=True, text=True)
    assert done.returncode in (0, 1), done.stderr  # 1: the check reported polygons
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), done.stdout


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
        cli, check, check_mesh, peak = [], [], [], []
        for _ in range(rounds):
            cpu, out = cpu_of([exe, "check", mesh, "--format", "json"], env)
            cli.append(cpu)
            want = len(json.loads(out)["files"][0]["non_planar"])
            cpu, out = cpu_of([sys.executable, "-c", f"import torvel; print(len(torvel.check({mesh!r})['non_planar']))"],
                              env)
            check.append(cpu)
            assert int(out) == want, (out, want)
            _, out = cpu_of([sys.executable, "-c", MEASURE_MESH, npz], env)
            measured = json.loads(out)
            assert measured["non_planar"] == want
            check_mesh.append(measured["cpu"])
            peak.append(measured["peak"])
    lines = [line("python_check_vs_cli_1e6", min(check) / min(cli), 1.1),
             line("python_check_mesh_vs_cli_1e6", min(check_mesh) / min(cli), 0.6)]
    print("\n".join(text for text, _ in lines))
    print(f"python_check_mesh_peak: {min(peak) / 2**20:.1f} MB above the arrays, the scene's mesh "
          f"{scene / 2**20:.1f} MB ({min(peak) / scene:.2f}x); torvel check {min(cli):.3f} s, torvel.check "
          f"{min(check):.3f} s, check_mesh {min(check_mesh):.3f} s CPU")
    return 0 if all(ok for _, ok in lines) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], *(int(a) for a in sys.argv[3:4])))
