"""torvel.fix and fix_mesh repair as `torvel fix` does."""

import numpy as np
import pytest

import torvel
from conftest import EXAMPLE_MESHES, cli_json, generated_mesh, run_cli


def obj_faces(path):
    """The faces of an OBJ written by torvel fix: one list of zero-based vertices per `f` line."""
    return [[int(t.split("/")[0]) - 1 for t in line.split()[1:]]
            for line in path.read_text().splitlines() if line.startswith("f ")]


@pytest.mark.parametrize("tolerance", [None, 5, 30])
def test_fix_writes_and_reports_what_the_program_does(tmp_path, tolerance):
    args = [] if tolerance is None else ["-t", str(tolerance)]
    for path in EXAMPLE_MESHES:
        ours, theirs = tmp_path / ("py" + path.suffix), tmp_path / ("cli" + path.suffix)
        got = torvel.fix(path, ours, tolerance)
        want = cli_json("fix", path, "-o", theirs, *args)
        want["files"][0]["output"] = str(ours)
        assert got == want, path
        assert ours.read_bytes() == theirs.read_bytes(), path
        assert torvel.fix(path, None, tolerance, dry_run=True)["files"][0]["output"] is None


def test_fix_mesh_equals_the_programs_repair_and_the_filter_agrees(tmp_path):
    for seed in (1, 2, 3):
        mesh = generated_mesh(seed=seed)
        source = mesh.write_obj(tmp_path / f"m{seed}.obj")
        fixed = tmp_path / f"fixed{seed}.obj"
        want = cli_json("fix", source, "-t", "10", "-o", fixed)["files"][0]
        got = torvel.fix_mesh(mesh.positions, mesh.sizes, mesh.indices, 10)
        assert got.split.tolist() == [s["index"] for s in want["split"]]
        assert got.pieces == want["pieces"]
        assert got.not_repaired == [(n["index"], n["reason"]) for n in want["not_repaired"]]
        faces = obj_faces(fixed)
        assert got.face_sizes.tolist() == [len(f) for f in faces]
        assert got.face_indices.tolist() == [i for f in faces for i in f]
        # Every output face names its input face, which it takes corners of; faces not split stay.
        assert got.source_face.tolist() == sorted(got.source_face.tolist())
        offsets = np.concatenate([[0], np.cumsum(got.face_sizes)])
        for k, source_face in enumerate(got.source_face.tolist()):
            piece = got.face_indices[offsets[k]:offsets[k + 1]].tolist()
            assert set(piece) <= set(mesh.faces[source_face])
            if source_face not in got.split:
                assert piece == mesh.faces[source_face]
        # The filter reports exactly the faces that were not repaired (by their new place).
        again = torvel.check_mesh(mesh.positions, got.face_sizes, got.face_indices, 10)
        assert got.source_face[again.non_planar].tolist() == [n for n, _ in got.not_repaired]


def test_fix_never_writes_over_its_input(tmp_path):
    source = tmp_path / "m.obj"
    generated_mesh().write_obj(source)
    before = source.read_bytes()
    with pytest.raises(torvel.OutputError) as caught:
        torvel.fix(source, source)
    assert caught.value.code == "TV-E-OUTPUT-REFUSED"
    assert source.read_bytes() == before
    with pytest.raises(torvel.UsageError):
        torvel.fix(source, None)
    assert run_cli("fix", source, "-o", source)[0] == 2
