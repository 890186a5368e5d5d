#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>

#include "test_support.h"
#include "torvel/torvel.h"

namespace {

using namespace torvel;

const std::string kExamples = TORVEL_EXAMPLES;

Session session() {
    SessionOptions o;
    o.plugin = std::filesystem::path(TORVEL_PLUGIN_PATH);
    return Session(std::move(o));
}

// What the program prints on stdout.
std::string torvel_output(const std::string& arguments) {
    const std::string command =
        std::string("TORVEL_PLUGIN=") + TORVEL_PLUGIN_PATH + " " + TORVEL_EXE + " " + arguments + " 2>/dev/null";
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    ::pclose(pipe);
    return out;
}

// A flat quad, a quad bent by some 72 degrees, a triangle.
PolygonMesh two_quads() {
    return test::mesh_of({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 0, 0, 3, 0, 0, 3, 1, 3, 2, 1, 0},
                         {0, 4, 8, 11}, {0, 1, 2, 3, 4, 5, 6, 7, 4, 5, 6});
}

TEST(Lib, CheckFileAndCheckMeshOfTheSameMeshAgree) {
    Session s = session();
    CheckOptions o;
    o.details = true;
    o.histogram = true;
    const FileReport file = s.check_file(kExamples + "/twisted_quad.obj", o);
    PolygonMesh mesh = test::mesh_of({}, {0}, {});
    // The same polygons, read by the program's own reader through check -o's mesh.
    CheckOptions with_mesh = o;
    with_mesh.mesh = true;
    mesh = s.check_file(kExamples + "/twisted_quad.obj", with_mesh).mesh;
    mesh.objects.clear();
    const FileReport memory = s.check_mesh(std::move(mesh), o, "twisted_quad");
    EXPECT_EQ(memory.path, "");
    EXPECT_EQ(memory.polygons, file.polygons);
    EXPECT_EQ(memory.non_planar, file.non_planar);
    EXPECT_EQ(memory.tolerance, file.tolerance);
    ASSERT_EQ(memory.details.size(), file.details.size());
    for (std::size_t k = 0; k < file.details.size(); ++k) {
        EXPECT_EQ(memory.details[k].index, file.details[k].index);
        EXPECT_EQ(memory.details[k].bend, file.details[k].bend);
    }
    ASSERT_TRUE(memory.histogram && file.histogram);
    EXPECT_EQ(memory.histogram->bands, file.histogram->bands);
    EXPECT_FALSE(file.non_planar.empty());
}

TEST(Lib, CheckJsonIsWhatTheProgramPrints) {
    Session s = session();
    for (const auto& [arguments, options] : std::vector<std::pair<std::string, CheckOptions>>{
             {"", {}}, {"--details --histogram", [] {
                  CheckOptions o;
                  o.details = o.histogram = true;
                  return o;
              }()}}) {
        std::vector<FileReport> files;
        std::string paths;
        for (const char* name : {"mixed.obj", "mixed.ply", "l_hexagon.off", "flat_quads.obj"}) {
            files.push_back(s.check_file(kExamples + "/" + name, options));
            paths += " " + kExamples + "/" + name;
        }
        const std::vector<FileFailure> none;
        EXPECT_EQ(check_json(files.front().tolerance, files, none, options) + "\n",
                  torvel_output("check -j 1 --format json " + arguments + paths))
            << arguments;
    }
}

TEST(Lib, DescribeTellsDegenerateNotFiniteAndTriangles) {
    PolygonMesh mesh = two_quads();
    // A third quad with a repeated corner, a fourth with a coordinate that is not finite.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    mesh.positions.insert(mesh.positions.end(), {5, 0, 0, nan, 0, 0});
    mesh.indices.insert(mesh.indices.end(), {0, 1, 1, 2, 0, 1, 2, 9});
    mesh.offsets.insert(mesh.offsets.end(), {15, 19});
    const MeshDescription d = describe(mesh.view());
    ASSERT_EQ(d.bend.size(), 5u);
    EXPECT_EQ(d.bend[0], 0);
    EXPECT_GT(d.bend[1], 60);
    EXPECT_EQ(d.bend[2], 0);  // a triangle is never bent
    EXPECT_EQ(d.degenerate_corner[2], -1);
    EXPECT_TRUE(std::isnan(d.bend[3]));
    EXPECT_GE(d.degenerate_corner[3], 0);
    EXPECT_EQ(d.degenerate_cause[3], "zero-length edge");
    EXPECT_TRUE(std::isnan(d.bend[4]));
    EXPECT_EQ(d.degenerate_corner[4], -1);
    EXPECT_TRUE(std::isnan(d.out_of_plane[4]));
}

TEST(Lib, BadArraysAreUsageErrorsNamingTheElement) {
    Session s = session();
    auto message = [&](PolygonMesh mesh) {
        try {
            s.check_mesh(std::move(mesh));
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), ErrorCode::usage) << e.what();
            return std::string(e.what());
        }
        return std::string("no error");
    };
    auto with = [](auto change) {
        PolygonMesh m = two_quads();
        change(m);
        return m;
    };
    EXPECT_NE(message(with([](PolygonMesh& m) { m.indices[5] = 99; })).find("indices[5] is 99"), std::string::npos);
    EXPECT_NE(message(with([](PolygonMesh& m) { m.offsets[0] = 1; })).find("offsets[0] is 1"), std::string::npos);
    EXPECT_NE(message(with([](PolygonMesh& m) { m.offsets[2] = 6; })).find("offsets[2]"), std::string::npos);
    EXPECT_NE(message(with([](PolygonMesh& m) { m.offsets[3] = 99; })).find("offsets[3] is 99"), std::string::npos);
    EXPECT_NE(message(with([](PolygonMesh& m) { m.positions.pop_back(); })).find("positions"), std::string::npos);
    EXPECT_NE(message(with([](PolygonMesh& m) { m.positions[7] = INFINITY; })).find("positions[7] is not finite"),
              std::string::npos);
    EXPECT_NE(message(with([](PolygonMesh& m) { m.offsets.clear(); })).find("offsets"), std::string::npos);
    EXPECT_NE(message(with([](PolygonMesh& m) {
                  m.objects = {{"a", 0, 0}, {"b", 0, 0}};
              })).find("objects[1].first"),
              std::string::npos);
    EXPECT_NE(message(with([](PolygonMesh& m) { m.face_lines = {1}; })).find("face_lines"), std::string::npos);
    // describe holds the arrays together too, and fix_mesh.
    PolygonMesh bad = with([](PolygonMesh& m) { m.indices[0] = 8; });
    EXPECT_NE(test::thrown_message<Error>([&] { describe(bad.view()); }).find("indices[0] is 8"), std::string::npos);
    EXPECT_NE(test::thrown_message<Error>([&] { s.fix_mesh(bad); }).find("indices[0] is 8"), std::string::npos);
}

TEST(Lib, FixMeshPiecesAreNoLongerReported) {
    Session s = session();
    PolygonMesh mesh = two_quads();
    const std::vector<double> positions = mesh.positions;
    const FixReport fixed = s.fix_mesh(mesh);
    ASSERT_EQ(fixed.splits.size(), 1u);
    EXPECT_EQ(fixed.splits[0].polygon, 1u);
    EXPECT_EQ(fixed.splits[0].piece_count(), 2u);
    EXPECT_TRUE(fixed.not_repaired.empty());
    EXPECT_EQ(fixed.mesh.positions, positions);
    EXPECT_EQ(fixed.source_polygon, (std::vector<std::uint32_t>{0, 1, 1, 2}));
    EXPECT_EQ(fixed.mesh.polygon_count(), 4u);
    EXPECT_TRUE(s.check_mesh(fixed.mesh).non_planar.empty());
    EXPECT_EQ(s.check_mesh(mesh).non_planar, (std::vector<std::uint32_t>{1}));
}

// A quad with one corner lifted (bent some 23 degrees), a flat quad sharing its first edge, a triangle.
PolygonMesh lifted_quad() {
    return test::mesh_of({0, 0, 0, 1, 0, 0, 1, 1, 0.3, 0, 1, 0, 0, -1, 0, 1, -1, 0, 2, -1, 0}, {0, 4, 8, 11},
                         {0, 1, 2, 3, 4, 5, 1, 0, 5, 6, 1});
}

TEST(Lib, FixMeshFlattenMovesWithinTheLimitUntilNothingIsReported) {
    Session s = session();
    FixOptions o;
    o.tolerance = 5;
    o.flatten = 0.5;
    const PolygonMesh mesh = lifted_quad();
    const FixReport fixed = s.fix_mesh(mesh, o);
    EXPECT_TRUE(fixed.flatten);
    ASSERT_EQ(fixed.flattened.size(), 1u);
    EXPECT_EQ(fixed.flattened[0].index, 0u);
    EXPECT_TRUE(fixed.splits.empty());
    EXPECT_TRUE(fixed.not_repaired.empty());
    ASSERT_FALSE(fixed.moves.empty());
    // The repaired mesh is the input with the moves applied, and the plug-in reports none of it.
    std::vector<double> moved = mesh.positions;
    double largest = 0;
    for (const geometry::VertexMove& m : fixed.moves) {
        EXPECT_GT(m.distance, 0);
        EXPECT_LE(m.distance, 0.5);
        largest = std::max(largest, m.distance);
        std::copy(m.position.begin(), m.position.end(), moved.begin() + 3 * m.vertex);
    }
    EXPECT_EQ(fixed.flattened[0].largest_move, largest);
    EXPECT_EQ(fixed.mesh.positions, moved);
    EXPECT_EQ(fixed.mesh.indices, mesh.indices);
    CheckOptions at5;
    at5.tolerance = 5;
    EXPECT_TRUE(s.check_mesh(fixed.mesh, at5).non_planar.empty());

    // Only a report that flattened has the flatten fields.
    const std::string json = fix_json(5, &fixed, {});
    EXPECT_NE(json.find(",\"pieces\":0,\"flattened\":[{\"index\":0,\"largest_move\":"), std::string::npos) << json;
    EXPECT_NE(json.find("],\"moved_vertices\":[{\"vertex\":"), std::string::npos) << json;
    FixOptions split = o;
    split.flatten.reset();
    const FixReport by_split = s.fix_mesh(mesh, split);
    EXPECT_EQ(fix_json(5, &by_split, {}).find("flattened"), std::string::npos);
    EXPECT_EQ(by_split.splits.size(), 1u);

    // A limit no move fits leaves the polygon unrepaired (and nothing moved); with split_unflattened it is split.
    FixOptions none = o;
    none.flatten = 0;
    const FixReport unmoved = s.fix_mesh(mesh, none);
    EXPECT_TRUE(unmoved.moves.empty());
    ASSERT_EQ(unmoved.not_repaired.size(), 1u);
    EXPECT_EQ(unmoved.not_repaired[0].reason, "cannot be flattened with no vertex moving more than 0");
    EXPECT_EQ(unmoved.mesh.positions, mesh.positions);
    none.split_unflattened = true;
    const FixReport cut = s.fix_mesh(mesh, none);
    EXPECT_TRUE(cut.not_repaired.empty());
    ASSERT_EQ(cut.splits.size(), 1u);
    EXPECT_EQ(cut.splits[0].polygon, 0u);

    FixOptions bad = o;
    bad.flatten = -1;
    try {
        s.fix_mesh(mesh, bad);
        ADD_FAILURE() << "a negative limit was taken";
    } catch (const Error& e) {
        EXPECT_EQ(e.code(), ErrorCode::usage) << e.what();
        EXPECT_NE(std::string(e.what()).find("flatten limit -1"), std::string::npos) << e.what();
    }
}

TEST(Lib, SessionsOnTwoThreadsGiveTheSequentialResults) {
    const std::vector<std::string> names = {"mixed.obj", "mixed.ply", "l_hexagon.off", "twisted_quad.obj"};
    CheckOptions o;
    o.details = true;
    auto run = [&](std::vector<std::string>& out) {
        Session s = session();
        for (int round = 0; round < 3; ++round)
            for (const std::string& name : names) out.push_back(file_json(s.check_file(kExamples + "/" + name, o), o));
    };
    std::vector<std::string> alone, a, b;
    run(alone);
    std::thread first([&] { run(a); }), second([&] { run(b); });
    first.join();
    second.join();
    EXPECT_EQ(a, alone);
    EXPECT_EQ(b, alone);
}

TEST(Lib, CheckFilesInWorkersDeliversInOrderWithSections) {
    std::vector<std::string> paths = {kExamples + "/mixed.obj", kExamples + "/missing.obj", kExamples + "/mixed.ply"};
    const std::vector<MeshInput> inputs = find_mesh_files(paths);
    CheckOptions o;
    o.html_section = 0;
    SessionOptions so;
    so.plugin = std::filesystem::path(TORVEL_PLUGIN_PATH);
    for (const std::size_t jobs : {std::size_t{1}, std::size_t{2}}) {
        std::vector<std::size_t> order;
        check_files(inputs, o, so, jobs, [&](std::size_t i, FileOutcome&& out) {
            order.push_back(i);
            EXPECT_EQ(out.report.has_value(), i != 1) << jobs;
            EXPECT_EQ(out.failure.has_value(), i == 1) << jobs;
            if (out.report) {
                EXPECT_EQ(out.report->html.rfind("<section class=\"file\" id=\"file-" + std::to_string(i) + "\">", 0),
                          0u);
            }
            if (out.failure) {
                EXPECT_EQ(out.failure->code, ErrorCode::not_found);
            }
        });
        EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2}));
    }
}

TEST(Lib, ErrorPlaceNamesTheFileAndTheReadersLine) {
    const std::string dir = ::testing::TempDir();
    const std::string bad = dir + "/lib_place_bad.obj";
    {
        std::FILE* f = std::fopen(bad.c_str(), "w");
        ASSERT_TRUE(f);
        std::fputs("v 0 0 0\nv 1 0 0\nv 1 1 x\nf 1 2 3\n", f);
        std::fclose(f);
    }
    Session s = session();
    for (const auto& [path, line] : std::vector<std::pair<std::string, int>>{{bad, 3}, {dir + "/lib_none.obj", 0}}) {
        try {
            s.check_file(path);
            ADD_FAILURE() << path;
        } catch (const Error& e) {
            const ErrorPlace place = error_place(e, path);
            EXPECT_EQ(place.path, path);
            EXPECT_EQ(place.line, line) << e.what();
        }
    }
    std::remove(bad.c_str());
    // The error's own place first; a plug-in's error is never the file's; only "PATH:DIGITS: " is a line.
    EXPECT_EQ(error_place(FileError("a.obj:7: bad", "a.obj"), "b.obj").path, "a.obj");
    EXPECT_EQ(error_place(FileError("a.obj:7: bad", "a.obj")).line, 7);
    EXPECT_EQ(error_place(HostError("gone", "lib.so", ErrorCode::plugin_load), "a.obj").path, "lib.so");
    EXPECT_EQ(error_place(Error("lib.so: cannot load", ErrorCode::plugin_load), "a.obj").path, "");
    EXPECT_EQ(error_place(ScriptError("unknown command", 12)).line, 12);
    for (const char* message : {"a.obj:7x: bad", "a.obj:: bad", "a.obj:0: bad", "a.obj:99999999999: bad", "a.obj:7"})
        EXPECT_EQ(error_place(Error(message, ErrorCode::parse), "a.obj").line, 0) << message;
}

TEST(Lib, DescribeAllIsTheDescriptionOfEveryObjectsPolygons) {
    Session s = session();
    PolygonMesh mesh = two_quads();
    const MeshDescription whole = describe(mesh.view());
    mesh.objects = {{"flat", 0, 0}, {"rest", 1, 0}};
    CheckOptions o;
    o.describe_all = true;
    const FileReport r = s.check_mesh(std::move(mesh), o);
    ASSERT_EQ(r.objects.size(), 2u);
    ASSERT_TRUE(r.description);
    EXPECT_EQ(r.description->bend, whole.bend);
    EXPECT_EQ(r.description->out_of_plane, whole.out_of_plane);
    EXPECT_EQ(r.description->degenerate_corner, whole.degenerate_corner);
    EXPECT_EQ(r.description->degenerate_cause, whole.degenerate_cause);
    EXPECT_FALSE(s.check_mesh(two_quads()).description);
}

TEST(Lib, DefaultJobsAndTheRunsTolerance) {
    const std::string twisted = kExamples + "/twisted_quad.obj";
    const std::vector<MeshInput> one = find_mesh_files(std::vector<std::string>{twisted, kExamples + "/none.obj"});
    // A missing file is checked too (it reports what is wrong); an entry with a failure is not.
    EXPECT_EQ(default_jobs(one), std::min<std::size_t>(2, available_cores()));
    EXPECT_EQ(default_jobs(std::span(one).first(1)), 1u);
    std::vector<MeshInput> failed(5, MeshInput{twisted, FileFailure{twisted, "x", ErrorCode::not_found}});
    EXPECT_EQ(default_jobs(failed), 1u);
    failed[0].failure.reset();
    failed[1].failure.reset();
    failed[2].failure.reset();
    EXPECT_EQ(default_jobs(failed), std::min<std::size_t>(3, available_cores()));
    const std::filesystem::path plugin = TORVEL_PLUGIN_PATH;
    EXPECT_EQ(run_tolerance(12.5, 30.0, plugin), 12.5);
    EXPECT_EQ(run_tolerance(std::nullopt, 30.0, plugin), 30.0);
    EXPECT_EQ(run_tolerance(std::nullopt, std::nullopt, plugin), session().default_tolerance());
    EXPECT_TRUE(std::isnan(run_tolerance(std::nullopt, std::nullopt, std::filesystem::path("/nonexistent/p.so"))));
}

TEST(Lib, CheckFilesHereLogsLiveInTheOrderOfTheOutcomesLogs) {
    std::vector<std::string> paths = {kExamples + "/mixed.obj", kExamples + "/missing.obj", kExamples + "/mixed.ply"};
    const std::vector<MeshInput> inputs = find_mesh_files(paths);
    SessionOptions so;
    so.plugin = std::filesystem::path(TORVEL_PLUGIN_PATH);
    // Kept with each outcome when nothing observes the log...
    std::vector<std::string> kept;
    check_files(inputs, {}, so, 1, [&](std::size_t i, FileOutcome&& out) {
        kept.push_back("start " + std::to_string(i));
        for (const LogLine& line : out.log) kept.push_back(std::to_string(line.severity) + " " + line.text);
    });
    // ... told as it is logged, after its entry's start, otherwise.
    std::vector<std::string> live;
    so.starting = [&](std::size_t i) { live.push_back("start " + std::to_string(i)); };
    so.log = [&](const LogLine& line) { live.push_back(std::to_string(line.severity) + " " + line.text); };
    std::size_t delivered = 0;
    check_files(inputs, {}, so, 1, [&](std::size_t i, FileOutcome&& out) {
        EXPECT_TRUE(out.log.empty());
        const auto last =
            std::find_if(live.rbegin(), live.rend(), [](const std::string& l) { return l.starts_with("start "); });
        ASSERT_NE(last, live.rend());
        EXPECT_EQ(*last, "start " + std::to_string(i));  // delivered before the next entry starts
        ++delivered;
    });
    EXPECT_EQ(delivered, 3u);
    EXPECT_GT(kept.size(), 3u);
    EXPECT_EQ(live, kept);
}

}  // namespace
