"""torvel: mesh files and meshes in memory checked and repaired with the poly_torvel_filer plug-in.

The plug-in alone decides which polygons are non-planar: every result here is what its filter left
selected, exactly as the `torvel` program reports it (the dicts are its `--format json` documents).

    import torvel
    run = torvel.check_files(["assets/"])
    bad = [f["path"] for f in run["files"] if f["non_planar"]]
    result = torvel.check_mesh(positions, face_sizes, face_indices, tolerance=10)
    repaired = torvel.fix_mesh(positions, face_sizes, face_indices, tolerance=10)
"""

from ._errors import (
    Error,
    FileError,
    ImporterError,
    OutputError,
    ParseError,
    PluginError,
    UsageError,
)
from ._torvel import (
    CheckResult,
    FixResult,
    ObjectResult,
    __version__,
    check,
    check_files,
    check_mesh,
    fix,
    fix_mesh,
    plugin_info,
    plugin_path,
)

__all__ = [
    "CheckResult",
    "Error",
    "FileError",
    "FixResult",
    "ImporterError",
    "ObjectResult",
    "OutputError",
    "ParseError",
    "PluginError",
    "UsageError",
    "__version__",
    "check",
    "check_files",
    "check_mesh",
    "fix",
    "fix_mesh",
    "plugin_info",
    "plugin_path",
]
