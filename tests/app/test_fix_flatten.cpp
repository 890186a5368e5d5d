// torvel fix --flatten through the executable: vertices moved within the limit until the plug-in, asked
// again, reports none of the polygons; only the moved vertices' coordinates change in the file; what
// cannot be flattened is left with a reason or, with --strategy auto, split.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <sstream>

#include "run.h"

namespace apptest {
namespace {

using Json = nlohmann::json;

class FixFlatten : public TempDirTest {};

// An n x n grid of unit quads in OBJ, a tenth of its vertices lifted by up to `lift`; with `shared`
// false each quad has its own four vertices (and so a lifted corner bends only its own quad).
std::string grid_obj(int n, double lift, bool shared, unsigned seed = 5) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::ostringstream s;
    s << "# grid\no grid\n";
    auto vertex = [&](int x, int y) {
        const double z = unit(rng) < 0.1 ? lift * unit(rng) : 0.0;
        s << "v " << x << ' ' << y << ' ' << z << '\n';
    };
    if (shared) {
        for (int y = 0; y <= n; ++y)
            for (int x = 0; x <= n; ++x) vertex(x, y);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const int a = y * (n + 1) + x + 1;
                s << "f " << a << ' ' << a + 1 << ' ' << a + n + 2 << ' ' << a + n + 1 << '\n';
            }
    } else {
        for (int q = 0; q < n * n; ++q) {
            const int x = q % n, y = q / n;
            vertex(x, y), vertex(x + 1, y), vertex(x + 1, y + 1), vertex(x, y + 1);
            s << "f -4 -3 -2 -1\n";
        }
    }
    return s.str();
}

std::vector<std::size_t> v_lines(const std::vector<std::string>& text) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i].starts_with("v ")) out.push_back(i);
    return out;
}

Result check_json(const std::string& tolerance, const fs::path& path) {
    return run({"check", "-t", tolerance, "--format", "json", path.string()});
}

// Shared and unshared grids at 1 and 5 degrees: nothing reported afterwards, no vertex moved past MAX, the
// output differs from the input only in the moved vertices' `v` lines (which read back to the reported
// positions) and in the faces split; only corners of reported quads move. Quads of their own are all
// flattened; in the shared grid whatever is not is split (--strategy auto).
TEST_F(FixFlatten, GridsAreFlattenedWithinTheLimitChangingOnlyTheMovedVertices) {
    for (const bool shared : {true, false}) {
        const fs::path in = write("grid.obj", grid_obj(20, 0.3, shared)), out = dir / "flat.obj";
        for (const std::string tolerance : {"1", "5"}) {
            SCOPED_TRACE(std::string(shared ? "shared " : "unshared ") + tolerance);
            const Result before = check_json(tolerance, in);
            ASSERT_EQ(before.code, 1) << before.err;
            const Json reported = Json::parse(before.out)["files"][0]["non_planar"];
            std::vector<std::string> args{"fix",       "-t", tolerance,    "--flatten", "0.3",
                                          in.string(), "-o", out.string(), "--format",  "json"};
            if (shared) args.insert(args.end(), {"--strategy", "auto"});
            Result r = run(args);
            ASSERT_EQ(r.code, 0) << r.err << r.out;
            const Json file = Json::parse(r.out)["files"][0];
            if (!shared) {
                EXPECT_EQ(file["split"], Json::array());
            }
            EXPECT_EQ(file["not_repaired"], Json::array());
            ASSERT_EQ(file["flattened"].size() + file["split"].size(), reported.size());
            EXPECT_GT(file["flattened"].size(), reported.size() / 2);
            std::size_t at = 0;
            for (const Json& f : file["flattened"]) {
                while (at < reported.size() && reported[at] != f["index"]) ++at;
                EXPECT_LT(at, reported.size()) << f;  // a reported polygon, in order
                EXPECT_GT(f["largest_move"].get<double>(), 0);
                EXPECT_LE(f["largest_move"].get<double>(), 0.3);
            }
            const Result after = check_json(tolerance, out);
            EXPECT_EQ(after.code, 0) << after.out;

            const auto a = lines(read_file(in)), b = lines(read_file(out));
            ASSERT_EQ(b.size(), a.size() + file["split"].size());  // each split quad: two triangles
            const std::vector<std::size_t> vs = v_lines(a);
            std::size_t changed = 0;
            for (std::size_t i : vs) changed += a[i] != b[i];
            EXPECT_EQ(changed, file["moved_vertices"].size());
            for (const Json& m : file["moved_vertices"]) {
                const double d = m["distance"].get<double>();
                EXPECT_GT(d, 0);
                EXPECT_LE(d, 0.3);
                const std::string& line = b[vs.at(m["vertex"].get<std::size_t>())];
                std::istringstream values(line.substr(2));
                std::array<double, 3> p{};
                values >> p[0] >> p[1] >> p[2];
                EXPECT_EQ(Json(p), m["position"]) << line;
                if (!shared) {
                    // Vertex 4q..4q+3 belong to quad q alone.
                    const auto quad = m["vertex"].get<int>() / 4;
                    EXPECT_NE(std::find(reported.begin(), reported.end(), quad), reported.end()) << quad;
                }
            }
            // The lines before the faces are the vertices' and the header's: those not moved are unchanged.
            for (std::size_t i = 0; i < vs.back() + 1; ++i) {
                if (!a[i].starts_with("v ")) {
                    EXPECT_EQ(a[i], b[i]) << i;
                }
            }
        }
    }
}

// A limit too small: the polygon is left with a reason (exit 1), or with --strategy auto split as
// without --flatten; as a share of the diameter a large enough limit flattens it.
TEST_F(FixFlatten, WhatCannotBeFlattenedIsLeftOrSplitWithAuto) {
    const fs::path in = write("bent.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0.4\nv 0 1 0\nf 1 2 3 4\n"), out = dir / "o.obj";
    Result left = run({"fix", "-t", "1", "--flatten", "0.001", in.string(), "--dry-run"});
    EXPECT_EQ(left.code, 1) << left.err;
    EXPECT_EQ(lines(left.out).at(1), in.string() +
                                         ": polygon 0 not repaired: cannot be flattened with no vertex moving more "
                                         "than 0.001");
    Result share = run({"fix", "-t", "1", "--flatten", "0.05%", in.string(), "--dry-run"});
    EXPECT_NE(share.out.find("more than 0.05% of its diameter"), std::string::npos) << share.out;

    Result split = run({"fix", "-t", "1", "--flatten", "0.001", "--strategy", "auto", in.string(), "-o", out.string(),
                        "--format", "json"});
    ASSERT_EQ(split.code, 0) << split.err;
    const Json file = Json::parse(split.out)["files"][0];
    EXPECT_EQ(file["split"].size(), 1u);
    EXPECT_EQ(file["flattened"], Json::array());
    EXPECT_EQ(file["moved_vertices"], Json::array());
    EXPECT_EQ(check_json("1", out).code, 0);

    Result flat = run({"fix", "-t", "1", "--flatten", "30%", in.string(), "-o", out.string()});
    ASSERT_EQ(flat.code, 0) << flat.err;
    EXPECT_EQ(lines(flat.out).at(0), in.string() + ": 0 polygons split into 0 pieces, 0 not repaired at 1\u00b0");
    EXPECT_TRUE(lines(flat.out).at(1).starts_with(in.string() + ": 1 polygon flattened, ")) << flat.out;
    EXPECT_TRUE(lines(flat.out).at(2).starts_with(in.string() + ": polygon 0 flattened, its corners moved by up to "))
        << flat.out;
    EXPECT_EQ(check_json("1", out).code, 0);
}

// A moved PLY vertex is written only by converting; into an OBJ it is, and the check agrees.
TEST_F(FixFlatten, OtherFormatsAreConvertedOrRefused) {
    const fs::path in = write("bent.ply",
                              "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
                              "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
                              "0 0 0\n1 0 0\n1 1 0.25\n0 1 0\n4 0 1 2 3\n");
    Result refused = run({"fix", "-t", "1", "--flatten", "0.3", in.string(), "-o", (dir / "o.ply").string()});
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("moved vertices are written only into OBJ files"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(dir / "o.ply"));
    Result converted = run({"fix", "-t", "1", "--flatten", "0.3", in.string(), "-o", (dir / "o.obj").string()});
    ASSERT_EQ(converted.code, 0) << converted.err;
    EXPECT_EQ(check_json("1", dir / "o.obj").code, 0);
}

TEST_F(FixFlatten, BadOptionsAreUsageErrors) {
    const fs::path in = write("q.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--flatten", "-1"}, "--flatten: \"-1\" is not a number of model units"},
             {{"--flatten", "x%"}, "--flatten: \"x\" is not a number"},
             {{"--strategy", "auto"}, "--strategy auto needs --flatten MAX"},
             {{"--flatten", "1", "--strategy", "split"}, "--strategy split moves no vertex"},
             {{"--flatten", "1", "--strategy", "bend"}, "\"bend\" is not flatten, split or auto"}}) {
        std::vector<std::string> all{"fix", in.string(), "--dry-run"};
        all.insert(all.end(), args.begin(), args.end());
        const Result r = run(all);
        EXPECT_EQ(r.code, 2) << message;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace apptest
