"""Calls from several threads at once give what the same calls give one after another."""

import concurrent.futures
import os
import subprocess
import sys

import torvel
from conftest import EXAMPLE_MESHES, EXAMPLES, generated_mesh


def test_threads_give_the_results_of_calls_one_after_another(tmp_path):
    meshes = [generated_mesh(seed=s, objects=s % 2 == 0) for s in range(1, 7)]
    files = [m.write_obj(tmp_path / f"m{k}.obj") for k, m in enumerate(meshes)]
    calls = []
    for k, (mesh, path) in enumerate(zip(meshes, files)):
        tolerance = [None, 5, 20][k % 3]
        calls.append(lambda p=path, t=tolerance: torvel.check(p, t, details=True))
        calls.append(lambda m=mesh, t=tolerance: torvel.check_mesh(m.positions, m.sizes, m.indices, t,
                                                                    objects=m.objects).non_planar.tolist())
        calls.append(lambda m=mesh, t=tolerance: torvel.fix_mesh(m.positions, m.sizes, m.indices,
                                                                  t).face_indices.tolist())
    calls.append(lambda: torvel.check_files([EXAMPLES, *files], jobs=2))
    calls.append(lambda: torvel.check_files([*EXAMPLE_MESHES, *files], 10, jobs=1))
    want = [call() for call in calls]
    with concurrent.futures.ThreadPoolExecutor(max_workers=6) as pool:
        for _ in range(3):
            assert list(pool.map(lambda call: call(), calls * 2)) == want * 2


def test_worker_processes_leave_no_child_and_no_held_lock_behind():
    # check_files with jobs forks: a run in a fresh interpreter with other threads busy ends cleanly.
    script = ("import threading, torvel, sys\n"
              f"examples = {str(EXAMPLES)!r}\n"
              "out = []\n"
              "t = threading.Thread(target=lambda: out.extend(torvel.check(p)['polygons'] for p in\n"
              "                     [examples + '/mixed.obj'] * 20))\n"
              "t.start()\n"
              "runs = [torvel.check_files([examples], jobs=2) for _ in range(5)]\n"
              "t.join()\n"
              "assert all(r == runs[0] for r in runs) and out == [10] * 20\n"
              "import os; print(len(open(f'/proc/self/task/{os.getpid()}/children').read().split()))\n")
    done = subprocess.run([sys.executable, "-c", script], env=os.environ, capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "0"
