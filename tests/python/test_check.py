"""torvel.check, check_files and check_mesh give what `torvel check --format json` gives."""

import numpy as np
import pytest

import torvel
from conftest import EXAMPLE_MESHES, EXAMPLES, cli_json, generated_mesh

TOLERANCES = [None, 0, 1e-9, 10, 45, 63.43494882292201, 89.999, 90]


@pytest.mark.parametrize("tolerance", TOLERANCES)
def test_check_equals_the_program_on_every_example(tolerance):
    args = [] if tolerance is None else ["-t", repr(float(tolerance))]
    for path in EXAMPLE_MESHES:
        for details in (False, True):
            want = cli_json("check", path, *args, *(["--details"] if details else []))["files"][0]
            assert torvel.check(path, tolerance, details=details) == want, path


def test_check_files_equals_the_program_on_folders_missing_files_and_jobs(tmp_path):
    (tmp_path / "empty").mkdir()
    inputs = [EXAMPLES, tmp_path / "missing.obj", tmp_path / "empty", EXAMPLES / "mixed.obj"]
    want = cli_json("check", "-j", "1", *inputs)
    assert [e["code"] for e in want["errors"]] == ["TV-E-NOT-FOUND", "TV-E-EMPTY-FOLDER"]
    for jobs in (None, 1, 2):
        assert torvel.check_files([str(p) for p in inputs], jobs=jobs) == want
    want = cli_json("check", "-t", "5", "--details", EXAMPLES)
    assert torvel.check_files(EXAMPLES, 5, details=True, jobs=2) == want
    # A run that checked nothing reports the property's own tolerance, as the program does.
    assert torvel.check_files([tmp_path / "missing.obj"]) == cli_json("check", tmp_path / "missing.obj")


@pytest.mark.parametrize("tolerance", TOLERANCES)
def test_check_mesh_equals_the_program_on_generated_meshes(tmp_path, tolerance):
    args = [] if tolerance is None else ["-t", repr(float(tolerance))]
    for seed, objects in ((1, False), (2, True), (3, True)):
        mesh = generated_mesh(seed=seed, objects=objects)
        want = cli_json("check", mesh.write_obj(tmp_path / f"m{seed}.obj"), *args)
        got = torvel.check_mesh(mesh.positions, mesh.sizes, mesh.indices, tolerance, objects=mesh.objects)
        assert want["tolerance"] == got.tolerance
        entry = want["files"][0]
        assert got.polygons == entry["polygons"]
        assert got.non_planar.dtype == np.int64
        assert got.non_planar.tolist() == entry["non_planar"]
        if objects:
            assert [(o.name, o.source_name, o.polygons, o.non_planar.tolist()) for o in got.objects] == [
                (o["name"], o["source_name"], o["polygons"], o["non_planar"]) for o in entry["objects"]
            ]
            assert [o.first_face for o in got.objects] == [first for _, first, _ in mesh.objects]
        else:
            assert got.objects == []


def test_describe_equals_the_programs_details(tmp_path):
    mesh = generated_mesh(seed=4)
    entry = cli_json("check", "-t", "0", "--details", mesh.write_obj(tmp_path / "m.obj"))["files"][0]
    result = torvel.check_mesh(mesh.positions, mesh.sizes, mesh.indices, 0)
    d = result.describe()
    assert all(len(d[key]) == result.polygons for key in d)
    assert len(entry["details"]) > 5
    for detail in entry["details"]:
        i = detail["index"]
        assert d["bend"][i] == detail["bend"] if detail["bend"] is not None else np.isnan(d["bend"][i])
        oop = detail["out_of_plane"]
        assert d["out_of_plane"][i] == oop if oop is not None else np.isnan(d["out_of_plane"][i])
        degenerate = detail["degenerate"] or {"corner": -1, "cause": ""}
        assert (d["degenerate_corner"][i], d["degenerate_cause"][i]) == (degenerate["corner"], degenerate["cause"])
    assert set(d["degenerate_cause"]) == {"", "collinear", "zero-length edge"}
    triangle = len(mesh.faces) - 1
    assert d["bend"][triangle] == 0 and d["degenerate_corner"][triangle] == -1
    # The description is of the mesh as checked: arrays changed afterwards do not change it.
    positions = np.array(mesh.positions, dtype=np.float64)
    kept = torvel.check_mesh(positions, mesh.sizes, mesh.indices, 0)
    positions[:] = 0
    again = kept.describe()
    assert all(np.array_equal(again[key], d[key], equal_nan=key != "degenerate_cause") for key in d)
    with pytest.raises(torvel.UsageError, match="describe=False"):
        torvel.check_mesh(positions, mesh.sizes, mesh.indices, describe=False).describe()


def test_array_types_and_layouts_give_one_result():
    mesh = generated_mesh(seed=5)
    want = torvel.check_mesh(mesh.positions, mesh.sizes, mesh.indices, 10).non_planar.tolist()
    assert want
    strided = np.zeros((len(mesh.positions), 6))
    strided[:, ::2] = mesh.positions
    variants = [
        (mesh.positions.tolist(), mesh.sizes.tolist(), mesh.indices.tolist()),
        (mesh.positions.astype(np.float32).astype(np.float64), mesh.sizes, mesh.indices),
        (np.asfortranarray(mesh.positions), mesh.sizes.astype(np.uint8), mesh.indices.astype(np.uint16)),
        (strided[:, ::2], mesh.sizes.astype(">i4"), mesh.indices.astype(">u8")),
        (mesh.positions.astype(">f8"), mesh.sizes.astype(np.int16), mesh.indices.astype(np.int32)),
    ]
    for positions, sizes, indices in variants:
        assert torvel.check_mesh(positions, sizes, indices, 10).non_planar.tolist() == want
    # float32 is converted: its rounded coordinates are what is checked.
    rounded = mesh.positions.astype(np.float32)
    assert (torvel.check_mesh(rounded, mesh.sizes, mesh.indices, 10).non_planar.tolist() ==
            torvel.check_mesh(rounded.astype(np.float64), mesh.sizes, mesh.indices, 10).non_planar.tolist())
    empty = torvel.check_mesh(np.zeros((0, 3)), [], [])
    assert (empty.polygons, empty.non_planar.tolist(), empty.tolerance) == (0, [], 45)


def test_plugin_info_and_version_equal_the_program():
    assert torvel.plugin_info() == cli_json("plugin-info")
    code, out = __import__("conftest").run_cli("--version")
    assert code == 0 and torvel.__version__ in out
