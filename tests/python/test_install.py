"""The installed package imports and finds the plug-in beside itself, without any setting."""

import os
import pathlib
import subprocess
import sys

import pytest

BUILD = os.environ.get("TORVEL_BUILD_DIR")


@pytest.mark.skipif(not BUILD, reason="needs the build tree (TORVEL_BUILD_DIR)")
def test_cmake_install_gives_a_package_that_finds_its_plugin(tmp_path):
    done = subprocess.run(["cmake", "--install", BUILD], env=dict(os.environ, DESTDIR=str(tmp_path)),
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    site = subprocess.run([sys.executable, "-c", "import sysconfig; print(sysconfig.get_path('purelib'))"],
                          capture_output=True, text=True).stdout.strip()
    package = tmp_path / site.lstrip("/") / "torvel"
    names = {p.name for p in package.iterdir()}
    assert {"__init__.py", "__init__.pyi", "py.typed", "_errors.py", "poly_torvel_filer.so"} <= names
    assert any(n.startswith("_torvel.cpython-") for n in names)
    env = {k: v for k, v in os.environ.items() if k not in ("TORVEL_PLUGIN", "PYTHONPATH")}
    env["PYTHONPATH"] = str(package.parent)
    script = ("import torvel; print(torvel.__file__); print(torvel.plugin_path());"
              "print(torvel.__version__, torvel.plugin_info()['name'])")
    done = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    module, plugin, version = done.stdout.splitlines()
    assert pathlib.Path(module).parent == package
    assert pathlib.Path(plugin) == package / "poly_torvel_filer.so"
    import torvel
    assert version == f"{torvel.__version__} {torvel.plugin_info()['name']}"
