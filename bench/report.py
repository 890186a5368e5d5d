#!/usr/bin/env python3
"""Prints one line per benchmark target from torvel_bench's JSON output: NAME: VALUE (target T) ok|MISSED."""
import json
import sys


def main(path, import_path=None):
    with open(path) as f:
        data = json.load(f)
    # torvel_import_bench's results (a separate executable) join the others when given.
    if import_path:
        try:
            with open(import_path) as f:
                data["benchmarks"] += json.load(f)["benchmarks"]
        except (OSError, ValueError):
            pass
    # Each benchmark is repeated; its "min" aggregate (the fastest repetition) stands for it, and a
    # single run stands for itself when there are no aggregates.
    runs = {}
    for b in data["benchmarks"]:
        if b.get("error_occurred"):
            continue
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "min":
            continue
        # "SubsetWalk/1000/manual_time", "CheckExe/1000000/iterations:3/manual_time" -> "SubsetWalk/1000"
        parts = [p for p in b["run_name"].split("/") if p != "manual_time" and not p.startswith(("iterations:", "repeats:"))]
        name = "/".join(parts)
        if b.get("run_type") == "aggregate" or name not in runs or "aggregate_name" not in runs[name]:
            runs[name] = b

    def get(name, field):
        b = runs.get(name)
        return None if b is None or field not in b else float(b[field])

    lines = []
    missed = 0

    def target(name, value, limit, at_most=True, unit=""):
        nonlocal missed
        if value is None:
            lines.append(f"{name}: not measured (target {'<=' if at_most else '>='} {limit}{unit}) MISSED")
            missed += 1
            return
        ok = value <= limit if at_most else value >= limit
        missed += not ok
        lines.append(f"{name}: {value:.2f}{unit} (target {'<=' if at_most else '>='} {limit}{unit}) {'ok' if ok else 'MISSED'}")

    def ratio(a, b):
        return None if a is None or b is None else a / b

    big, small = 1000000, 1000
    walk = lambda n: get(f"SubsetWalk/{n}", "ns_per_polygon")
    floor = lambda n: get(f"Floor/{n}", "ns_per_polygon")
    imp = lambda fmt, n: get(f"Import{fmt}/{n}", "ns_per_polygon")

    # The walk and the floor taken in turns (WalkVsFloor), else from their own benchmarks.
    if "WalkVsFloor/1000000" in runs:
        target("walk_vs_floor_1e6", ratio(get("WalkVsFloor/1000000", "walk_ns"), get("WalkVsFloor/1000000", "floor_ns")),
               1.5, unit="x")
    else:
        target("walk_vs_floor_1e6", ratio(walk(big), floor(big)), 1.5, unit="x")
    # Growth from the benchmarks that take both sizes in turns, else from the per-size ones.
    def growth(paired, big_ns, small_ns):
        name = f"{paired}/{big}/{small}"
        return ratio(get(name, "big_ns"), get(name, "small_ns")) if name in runs else ratio(big_ns, small_ns)

    target("walk_growth_1e6_vs_1e3", growth("WalkGrowth", walk(big), walk(small)), 1.5, unit="x")
    target("import_obj_growth_1e6_vs_1e3", growth("ImportGrowthObj", imp("Obj", big), imp("Obj", small)), 1.5, unit="x")
    target("import_ply_growth_1e6_vs_1e3", growth("ImportGrowthPly", imp("Ply", big), imp("Ply", small)), 1.5, unit="x")
    target("import_obj_MB_per_s_1e6", get(f"ImportObj/{big}", "MB_per_s"), 100.0, at_most=False, unit=" MB/s")

    # torvel check against the import alone under the same conditions: both as fresh torvel processes,
    # run in pairs, the fastest of each (CheckExe's counters); both in this process when torvel is not built.
    exe = "CheckExe/1000000" in runs and "import_ms" in runs["CheckExe/1000000"]
    if exe:
        which, value = "torvel check / torvel import, fresh processes", ratio(
            get("CheckExe/1000000", "check_ms"), get("CheckExe/1000000", "import_ms"))
    else:
        which, value = "in process (torvel not available)", ratio(
            get("CheckInProcess/1000000", "real_time"), get(f"ImportObj/{big}", "real_time"))
    target(f"check_vs_import_1e6 [{which}]", value, 1.3, unit="x")
    rss = "CheckExe/1000000" if "CheckExe/1000000" in runs else "CheckInProcess/1000000"
    target(f"check_max_rss [{'torvel check' if rss.startswith('CheckExe') else 'in-process check'}]",
           get(rss, "max_rss_MB"), 200.0, unit=" MB")

    # Many small files with two worker processes against one, in turns (wall time).
    target("check_j2_speedup_500_files_1e4", ratio(get("CheckWorkers/500/10000", "j1_ms"),
                                                   get("CheckWorkers/500/10000", "j2_ms")), 1.7, at_most=False, unit="x")

    # One large OBJ with the readers' default threads against one thread, in turns (wall time).
    target("check_obj_1e6_threads_vs_one", ratio(get("CheckThreads/1000000", "threads_ms"),
                                                 get("CheckThreads/1000000", "one_thread_ms")), 0.6, unit="x")
    # The same for the binary PLY of the same mesh.
    target("check_ply_1e6_threads_vs_one", ratio(get("CheckThreadsPly/1000000", "threads_ms"),
                                                 get("CheckThreadsPly/1000000", "one_thread_ms")), 0.6, unit="x")

    # Assimp in a child process (torvel's import path) against Assimp in this process, in turns, 10^6 quads.
    target("import_isolated_vs_in_process_1e6 [COLLADA, wall]", get("IsolatedVsInProcess/1000000", "ratio_wall"),
           1.15, unit="x")
    # The picture of the 10^6-polygon file at 1024x1024 against torvel check of it, in turns (CPU time).
    target("render_vs_check_1e6 [render_png 1024x1024 / torvel check]",
           ratio(get("RenderVsCheck/1000000", "render_ms"), get("RenderVsCheck/1000000", "check_ms")), 1.0, unit="x")
    # torvel fix against torvel check of the 10^6-polygon file (10 % bent), in turns, fresh processes (CPU).
    target("fix_vs_check_1e6 [torvel fix / torvel check, fresh processes]",
           ratio(get("FixVsCheck/1000000", "fix_ms"), get("FixVsCheck/1000000", "check_ms")), 2.0, unit="x")
    # 10^5 objects of one polygon each, one repeated name or distinct names, against the same grid as one
    # object: torvel check, fresh processes in turns (CPU).
    for kind in ("same", "distinct"):
        target(f"check_1e5_objects_{kind}_names_vs_one_object [torvel check, fresh processes]",
               ratio(get("CheckObjects/100000", f"{kind}_ms"), get("CheckObjects/100000", "one_ms")), 2.0, unit="x")
    # One bent polygon of 1,000 corners split (geometry split_polygon), folded once and twice (CPU time).
    for folds in (1, 2):
        target(f"split_1000_corners_folded_{'once' if folds == 1 else 'twice'}",
               get(f"SplitLargePolygon/1000/{folds}", "real_time"), 1000.0, unit=" ms")
    # Polygons bent all over, split at 1 degree beyond the search's budget (CPU time).
    target("split_128_corner_chip_at_1_degree", get("SplitBentAllOver/128/0", "real_time"), 1000.0, unit=" ms")
    target("split_1000_corner_noisy_flat_at_1_degree", get("SplitBentAllOver/1000/1", "real_time"), 2000.0,
           unit=" ms")
    target("split_128_corner_noisy_flat_at_20_degrees", get("SplitNoisy/128/20", "real_time"), 1000.0, unit=" ms")
    target("split_64_corner_noisy_flat_at_1_degree", get("SplitNoisy/64/1", "real_time"), 1000.0, unit=" ms")

    # torvel fix --flatten 0.3 of a grid with a tenth of its vertices lifted by up to 0.3: nothing reported
    # afterwards, no vertex moved past 0.3, fewer than 6,252 vertices moved on 10^4 quads (what another
    # tool's planarizing moved), and on 10^6 quads within 5x the split of the same file (CPU time).
    for quads, deg in ((10000, 1), (10000, 5), (1000000, 5)):
        name = f"FlattenGrid/{quads}/{deg}"
        label = f"flatten_{'1e4' if quads == 10000 else '1e6'}_quads_at_{deg}_degrees"
        target(f"{label}_reported_after", get(name, "reported_after"), 0)
        target(f"{label}_largest_move", get(name, "largest_move"), 0.3)
        if quads == 10000:
            target(f"{label}_vertices_moved", get(name, "moved"), 6251)
        else:
            target(f"{label}_vs_split", ratio(get(name, "flatten_ms"), get(name, "split_ms")), 5.0, unit="x")

    print("\n".join(lines))
    info = [("planarity ns/polygon 1e6", get(f"Planarity/{big}", "ns_per_polygon")),
            ("walk ns/polygon 1e6", walk(big)), ("floor ns/polygon 1e6", floor(big)),
            ("walk ns/polygon 1e3", walk(small)),
            ("walk / floor ns/polygon 1e6, in turns", get("WalkVsFloor/1000000", "walk_ns")),
            ("", get("WalkVsFloor/1000000", "floor_ns")),
            ("import obj ns/polygon 1e3 / 1e6", imp("Obj", small)), ("", imp("Obj", big)),
            ("import ply ns/polygon 1e3 / 1e6", imp("Ply", small)), ("", imp("Ply", big)),
            ("check in process / import in process, 1e6",
             ratio(get("CheckInProcess/1000000", "real_time"), get(f"ImportObj/{big}", "real_time"))),
            ("torvel check / import in process, 1e6",
             ratio(get("CheckExe/1000000", "check_ms"), get(f"ImportObj/{big}", "real_time"))),
            ("torvel check / torvel import ms, 1e6", get("CheckExe/1000000", "check_ms")),
            ("", get("CheckExe/1000000", "import_ms")),
            ("torvel check -j 1 / -j 2 ms, 500 files of 1e4", get("CheckWorkers/500/10000", "j1_ms")),
            ("", get("CheckWorkers/500/10000", "j2_ms")),
            ("machine's ceiling: -j 1 / two -j 1 halves at once",
             ratio(get("CheckWorkers/500/10000", "j1_ms"), get("CheckWorkers/500/10000", "halves_ms"))),
            ("import isolated / in process ms, COLLADA 1e6", get("IsolatedVsInProcess/1000000", "isolated_wall_ms")),
            ("", get("IsolatedVsInProcess/1000000", "in_process_wall_ms")),
            ("picture 1024x1024 / torvel check ms, 1e6", get("RenderVsCheck/1000000", "render_ms")),
            ("", get("RenderVsCheck/1000000", "check_ms")),
            ("torvel fix / torvel check ms (wall), 1e6", get("FixVsCheck/1000000", "fix_wall_ms")),
            ("", get("FixVsCheck/1000000", "check_wall_ms")),
            ("torvel fix peak RSS MB, 1e6", get("FixVsCheck/1000000", "fix_max_rss_MB")),
            ("torvel check ms, 1e5 polygons: one object / 1e5 objects of one name / distinct names",
             get("CheckObjects/100000", "one_ms")),
            ("", get("CheckObjects/100000", "same_ms")), ("", get("CheckObjects/100000", "distinct_ms")),
            ("pieces of the chip / noisy polygon at 1 degree", get("SplitBentAllOver/128/0", "pieces")),
            ("", get("SplitBentAllOver/1000/1", "pieces"))]
    text = []
    for label, v in info:
        s = "n/a" if v is None else f"{v:.2f}" if v < 10 else f"{v:.1f}"
        text.append(f" / {s}" if not label else f"\n  {label}: {s}")
    print("for reference:" + "".join(text))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "build/release/bench/results.json",
                  sys.argv[2] if len(sys.argv) > 2 else None))
