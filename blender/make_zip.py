#!/usr/bin/python3
"""Packs the add-on for Blender's Preferences > Add-ons > Install:

    /usr/bin/python3 blender/make_zip.py [OUT.zip]     (default: torvel_blender.zip in the current folder)

The archive holds the folder torvel_blender/ with the add-on's Python files; the same sources give the same
bytes (fixed timestamps, sorted names).
"""

import sys
import zipfile
from pathlib import Path

package = Path(__file__).resolve().parent / "torvel_blender"


def main(argv):
    if len(argv) > 2:
        print("usage: make_zip.py [OUT.zip]", file=sys.stderr)
        return 2
    out = Path(argv[1] if len(argv) == 2 else "torvel_blender.zip")
    if out.suffix != ".zip":
        print(f"make_zip.py: {out}: the archive's name must end in .zip", file=sys.stderr)
        return 2
    files = sorted(package.glob("*.py"))
    try:
        with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
            for f in files:
                info = zipfile.ZipInfo(f"torvel_blender/{f.name}", date_time=(1980, 1, 1, 0, 0, 0))
                info.external_attr = 0o644 << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, f.read_bytes())
    except OSError as e:
        print(f"make_zip.py: {out}: {e.strerror or e}", file=sys.stderr)
        return 1
    print(f"{out}: {len(files)} files of torvel_blender")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
