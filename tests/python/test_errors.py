"""Bad arrays, bad files and a missing plug-in: errors that name what is at fault, never a crash."""

import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import torvel
from conftest import cli_json, generated_mesh

SQUARE = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]], dtype=np.float64)
NAN = np.array([[0, 0, 0], [1, 0, 0], [1, 1, np.nan], [0, 1, 0]])


@pytest.mark.parametrize("positions, sizes, indices, message", [
    (SQUARE.ravel(), [4], [0, 1, 2, 3], "positions: expected shape (N, 3), got shape (12,)"),
    (SQUARE[:, :2], [4], [0, 1, 2, 3], "positions: expected shape (N, 3), got shape (4, 2)"),
    (SQUARE.astype(str), [4], [0, 1, 2, 3], "positions: expected numbers, got dtype <U"),
    (NAN, [4], [0, 1, 2, 3], "positions[2, 2] is nan: coordinates must be finite"),
    (SQUARE - [0, 0, np.inf], [4], [0, 1, 2, 3], "positions[0, 2] is -inf"),
    (SQUARE, [4, -1], [0, 1, 2, 3], "face_sizes[1] is -1: a size cannot be negative"),
    (SQUARE, [3, 2], [0, 1, 2, 0, 1], "face_sizes[1] is 2: a face needs at least 3 vertices"),
    (SQUARE, [[4]], [0, 1, 2, 3], "face_sizes: expected a 1-D array, got shape (1, 1)"),
    (SQUARE, [4.0], [0, 1, 2, 3], "face_sizes: expected integers, got dtype float64"),
    (SQUARE, [4], [0, 1, 2], "face_indices: has 3 entries, but face_sizes add up to 4"),
    (SQUARE, [4], [0, 1, 2, 4], "face_indices[3] is 4: out of range for 4 vertices"),
    (SQUARE, [4], np.array([0, 1, 2, -1], dtype=np.int8), "face_indices[3] is -1: out of range"),
    (SQUARE, [4], np.array([0, 1, 2, 2**64 - 1], dtype=np.uint64), "face_indices[3] is 18446744073709551615"),
    (SQUARE, [4], [0, 1, [2], 3], "face_indices: not an array"),
    (SQUARE, np.array([2**32 - 2, 4], dtype=np.int64), [0], "face_sizes[1] is 4: the faces have more than"),
])
def test_bad_arrays_raise_a_value_error_naming_the_argument_and_element(positions, sizes, indices, message):
    for call in (torvel.check_mesh, torvel.fix_mesh):
        with pytest.raises(ValueError) as caught:
            call(positions, sizes, indices)
        assert message in str(caught.value)
        assert isinstance(caught.value, torvel.UsageError) and caught.value.code == "TV-E-USAGE"


@pytest.mark.parametrize("objects, message", [
    ([("a", 0, 1)], "objects: they cover 1 of the 2 faces"),
    ([("a", 0, 1), ("b", 2, 1)], "objects[1]: first_face is 2, expected 1"),
    ([("a", 0, 0), ("b", 0, 2)], "objects[0]: face_count is 0, expected 1 to 2"),
    ([("a", 0, 3)], "objects[0]: face_count is 3"),
    ([(1, 0, 2)], "objects[0]: expected (name: str, first_face: int, face_count: int)"),
    ([("a", 0)], "objects[0]: expected (name, first_face, face_count)"),
])
def test_bad_objects_raise_a_value_error(objects, message):
    with pytest.raises(ValueError, match=message.replace("[", r"\[").replace("(", r"\(").replace(")", r"\)")):
        torvel.check_mesh(SQUARE, [4, 3], [0, 1, 2, 3, 0, 1, 2], objects=objects)
    assert torvel.check_mesh(SQUARE, [4, 3], [0, 1, 2, 3, 0, 1, 2], objects=[("a", 0, 2)]).objects[0].polygons == 2


def test_bad_tolerances_and_jobs_are_usage_errors():
    for tolerance in (-1, 90.5, float("nan"), float("inf")):
        with pytest.raises(torvel.UsageError, match="tolerance: .* is outside the range 0 to 90 degrees"):
            torvel.check_mesh(SQUARE, [4], [0, 1, 2, 3], tolerance)
    assert torvel.check_mesh(SQUARE, [4], [0, 1, 2, 3], -0.0).tolerance == 0
    for jobs in (0, 1025):
        with pytest.raises(torvel.UsageError, match="jobs: "):
            torvel.check_files(["x.obj"], jobs=jobs)


def test_bad_files_raise_the_programs_error_with_its_code_path_and_line(tmp_path):
    (tmp_path / "bad.obj").write_text("v 0 0 0\nv 1 0 0\nv 1 1 x\nf 1 2 3\n")
    (tmp_path / "empty.obj").write_bytes(b"")
    (tmp_path / "index.obj").write_text("v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 9\n")
    (tmp_path / "mesh.xyz").write_text("1 2 3\n")
    (tmp_path / "folder.obj").mkdir()
    (tmp_path / "utf16.obj").write_bytes("v 0 0 0\n".encode("utf-16"))
    cases = {"bad.obj": (torvel.ParseError, 3), "index.obj": (torvel.ParseError, 4),
             "empty.obj": (torvel.FileError, None), "missing.obj": (torvel.FileError, None),
             "mesh.xyz": (torvel.ParseError, None),
             "utf16.obj": (torvel.ParseError, None)}
    for name, (kind, line) in cases.items():
        path = str(tmp_path / name)
        want = cli_json("check", path)["errors"][0]
        for call in (lambda: torvel.check(path), lambda: torvel.fix(path, tmp_path / "out.obj")):
            with pytest.raises(kind) as caught:
                call()
            e = caught.value
            assert (e.code, e.message, str(e), e.path, e.line) == (want["code"], want["message"], want["message"],
                                                                   path, line), name
        assert not (tmp_path / "out.obj").exists()
    # One file is checked as a file; a run searches a folder as the program does.
    with pytest.raises(torvel.FileError, match="is a folder"):
        torvel.check(tmp_path / "folder.obj")
    assert torvel.check_files([tmp_path / "folder.obj"]) == cli_json("check", tmp_path / "folder.obj")


def test_a_missing_plugin_is_a_plugin_error(tmp_path):
    with pytest.raises(torvel.PluginError) as caught:
        torvel.plugin_info(tmp_path / "none.so")
    assert caught.value.code == "TV-E-PLUGIN-LOAD"
    (tmp_path / "junk.so").write_bytes(b"not a library")
    with pytest.raises(torvel.PluginError):
        torvel.check(generated_mesh().write_obj(tmp_path / "m.obj"), plugin=tmp_path / "junk.so")
    # With $TORVEL_PLUGIN naming nothing, every call fails the same way (in a process of its own).
    script = ("import torvel\n"
              "for call in (lambda: torvel.check_mesh([[0, 0, 0]] * 4, [4], [0, 1, 2, 3]),\n"
              "             lambda: torvel.check_files(['x.obj']), torvel.plugin_info):\n"
              "    try:\n        call()\n    except torvel.PluginError as e:\n        print(e.code, e.message)\n")
    env = dict(os.environ, TORVEL_PLUGIN=str(tmp_path / "gone.so"))
    done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert len(lines) == 3 and all(line.startswith("TV-E-PLUGIN-LOAD ") and "gone.so" in line for line in lines)
