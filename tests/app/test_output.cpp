// torvel check -o and --log: the marked mesh read back, the files torvel must never overwrite, and what
// an output does to what is already at its name (a link, a FIFO, a device, the program's own stdout);
// standard output that cannot be written, for every subcommand.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "mesh_io.h"
#include "run.h"

namespace apptest {
namespace {

class OutputFiles : public TempDirTest {};

namespace io = torvel::io;

// Face colours of a binary little-endian PLY as write_marked lays it out: x y z doubles per vertex,
// then per face a uchar count, uint32 indices and uchar red, green, blue.
std::vector<std::array<unsigned char, 3>> ply_face_colours(const std::string& bytes, const torvel::PolygonMesh& mesh) {
    const std::size_t header = bytes.find("end_header\n");
    EXPECT_NE(header, std::string::npos);
    std::size_t at = header + std::strlen("end_header\n") + mesh.vertex_count() * 3 * sizeof(double);
    std::vector<std::array<unsigned char, 3>> colours;
    for (std::size_t f = 0; f < mesh.polygon_count() && at < bytes.size(); ++f) {
        const auto n = static_cast<unsigned char>(bytes[at]);
        at += 1 + n * 4u;
        if (at + 3 > bytes.size()) break;
        colours.push_back({static_cast<unsigned char>(bytes[at]), static_cast<unsigned char>(bytes[at + 1]),
                           static_cast<unsigned char>(bytes[at + 2])});
        at += 3;
    }
    return colours;
}

// For each face of an OBJ written by write_marked, the material it was written under.
std::vector<std::string> obj_face_materials(const std::string& text) {
    std::vector<std::string> materials;
    std::string current;
    for (const std::string& line : lines(text)) {
        if (line.rfind("usemtl ", 0) == 0) current = line.substr(7);
        if (line.rfind("f ", 0) == 0) materials.push_back(current);
    }
    return materials;
}

void expect_same_geometry(const torvel::PolygonMesh& a, const torvel::PolygonMesh& b) {
    ASSERT_EQ(a.positions.size(), b.positions.size());
    EXPECT_EQ(std::memcmp(a.positions.data(), b.positions.data(), a.positions.size() * sizeof(double)), 0)
        << "vertices differ in some bit";
    EXPECT_EQ(a.offsets, b.offsets);
    EXPECT_EQ(a.indices, b.indices);
}

TEST_F(OutputFiles, OutputPlyKeepsTheGeometryBitExactAndColoursTheNonPlanarFacesRed) {
    const fs::path in = copy_example("mixed.ply");
    const fs::path out = dir / "marked.ply";
    Result r = run({"check", "-o", out.string(), in.string()});
    EXPECT_EQ(r.code, 1) << r.err;
    const torvel::PolygonMesh original = io::read_mesh(in), written = io::read_mesh(out);
    expect_same_geometry(original, written);
    const auto colours = ply_face_colours(read_file(out), written);
    ASSERT_EQ(colours.size(), 10u);
    for (std::size_t f = 0; f < colours.size(); ++f) {
        const bool marked = f >= 5 && f <= 7;
        EXPECT_EQ(colours[f][0], marked ? 255 : 200) << "face " << f;
        EXPECT_EQ(colours[f][1], marked ? 0 : 200) << "face " << f;
    }
}

TEST_F(OutputFiles, OutputObjPutsTheNonPlanarFacesUnderTheirOwnMaterial) {
    // Tolerance 70 marks 6 and 7 only, so the marking follows the filter, not a fixed list.
    const fs::path in = copy_example("mixed.obj");
    const fs::path out = dir / "marked.obj";
    Result r = run({"check", "-t", "70", "-o", out.string(), in.string()});
    EXPECT_EQ(r.code, 1) << r.err;
    expect_same_geometry(io::read_mesh(in), io::read_mesh(out));
    const std::vector<std::string> materials = obj_face_materials(read_file(out));
    ASSERT_EQ(materials.size(), 10u);
    for (std::size_t f = 0; f < materials.size(); ++f)
        EXPECT_EQ(materials[f], f == 6 || f == 7 ? "non_planar" : "planar") << "face " << f;
    EXPECT_TRUE(fs::exists(dir / "marked.mtl"));

    // A clean mesh is written too, with nothing marked, and the exit code stays 0.
    const fs::path flat_out = dir / "flat.obj";
    EXPECT_EQ(run({"check", "-o", flat_out.string(), (kExamples / "flat_quads.obj").string()}).code, 0);
    for (const std::string& m : obj_face_materials(read_file(flat_out))) EXPECT_EQ(m, "planar");
}

TEST_F(OutputFiles, OutputNeverReplacesTheInputDirectlyOrThroughALink) {
    const fs::path in = copy_example("mixed.obj", "model.obj");
    const std::string before = read_file(in);
    fs::create_symlink(in, dir / "link.obj");
    for (const fs::path& target : {in, dir / "link.obj", dir / "." / "model.obj"}) {
        Result r = run({"check", "-o", target.string(), in.string()});
        EXPECT_EQ(r.code, 2) << target;
        EXPECT_NE(r.err.find("refusing to overwrite"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(target.string()), std::string::npos) << r.err;
        // Refused before anything is checked, as every clash the run can tell at its start.
        EXPECT_EQ(r.out, "") << r.out;
    }
    EXPECT_EQ(read_file(in), before);
    EXPECT_TRUE(fs::is_symlink(dir / "link.obj"));
}

TEST_F(OutputFiles, OutputFailuresExitTwoAndLeaveNothingBehind) {
    const fs::path in = copy_example("mixed.obj");
    Result no_dir = run({"check", "-o", (dir / "none" / "x.ply").string(), in.string()});
    EXPECT_EQ(no_dir.code, 2);
    EXPECT_NE(no_dir.err.find((dir / "none" / "x.ply").string()), std::string::npos) << no_dir.err;
    Result bad_ext = run({"check", "-o", (dir / "x.stl").string(), in.string()});
    EXPECT_EQ(bad_ext.code, 2);
    EXPECT_NE(bad_ext.err.find(".stl"), std::string::npos) << bad_ext.err;
    std::vector<fs::path> left;
    for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path());
    EXPECT_EQ(left, std::vector<fs::path>{in});
}

TEST_F(OutputFiles, LogNeverReplacesAnInputOrTheOutput) {
    const fs::path in = copy_example("mixed.obj");
    const std::string before = read_file(in);
    fs::create_symlink(in, dir / "link.jsonl");
    for (const fs::path& log : {in, dir / "link.jsonl"}) {
        Result r = run({"check", "--log", log.string(), in.string()});
        EXPECT_EQ(r.code, 2) << log;
        EXPECT_NE(r.err.find("refusing to overwrite"), std::string::npos) << r.err;
    }
    EXPECT_EQ(read_file(in), before);
    const fs::path out = dir / "out.obj";
    Result same = run({"check", "--log", out.string(), "-o", out.string(), in.string()});
    EXPECT_EQ(same.code, 2);
    EXPECT_NE(same.err.find("refusing to overwrite the output " + out.string()), std::string::npos) << same.err;
    EXPECT_FALSE(fs::exists(out));
    Result is_dir = run({"check", "--log", dir.string(), in.string()});
    EXPECT_EQ(is_dir.code, 2);
    EXPECT_NE(is_dir.err.find(dir.string() + ": is a folder"), std::string::npos) << is_dir.err;
}

// Every file a run reads or loads is safe from its outputs: the refusal names the output and the file,
// exits 2 and leaves the file as it was.
TEST_F(OutputFiles, NoOutputReplacesAFileTheRunReadsLoadsOrWrites) {
    const fs::path mesh = copy_example("mixed.obj", "m.obj");
    const fs::path plugin = dir / "p.so";
    fs::copy_file(kPlugin, plugin);
    const fs::path script = write("job.tvs", "LogMessage \"hello\"\n");
    const fs::path mtl = write("x.mtl", "newmtl mine\n");
    fs::create_symlink(plugin, dir / "plugin_link.ply");
    const std::string mesh_before = read_file(mesh), plugin_before = read_file(plugin);
    RunOptions in_dir;
    in_dir.cwd = dir;

    struct Case {
        std::vector<std::string> args;
        std::string refusal;  // what stderr must say
    };
    const std::vector<Case> cases = {
        {{"script", "--plugin", "p.so", "--log", "m.obj", "-c", "ImportMesh \"m.obj\""},
         "--log m.obj: refusing to overwrite the input m.obj"},
        {{"script", "--log", "p.so", "-c", "LoadPlugin \"p.so\""},
         "--log p.so: refusing to overwrite the plug-in library p.so"},
        {{"script", "--log", "job.tvs", "job.tvs"}, "--log job.tvs: refusing to overwrite the script job.tvs"},
        {{"plugin-info", "--log", "p.so", "p.so"}, "--log p.so: refusing to overwrite the plug-in library p.so"},
        {{"check", "--plugin", "p.so", "--log", "p.so", "m.obj"},
         "--log p.so: refusing to overwrite the plug-in library p.so"},
        {{"check", "--plugin", "p.so", "-o", "x.obj", "--log", "x.mtl", "m.obj"},
         "--log x.mtl: refusing to overwrite the output x.mtl"},
        {{"check", "--plugin", "p.so", "-o", "plugin_link.ply", "m.obj"},
         "plugin_link.ply: refusing to overwrite the plug-in library p.so"},
        {{"check", "--plugin", "p.so", "-o", "out.obj", "--log", "out.mtl", "m.obj"},
         "--log out.mtl: refusing to overwrite the output out.mtl"},
    };
    for (const Case& c : cases) {
        Result r = run(c.args, in_dir);
        EXPECT_EQ(r.code, 2) << c.args[0] << " " << c.args[1] << "...: " << r.err;
        EXPECT_NE(r.err.find(c.refusal), std::string::npos) << r.err;
        // Said once: an early refusal does not try again at the end.
        EXPECT_EQ(r.err.find("refusing"), r.err.rfind("refusing")) << r.err;
    }
    EXPECT_EQ(read_file(mesh), mesh_before);
    EXPECT_EQ(read_file(plugin), plugin_before);
    EXPECT_EQ(read_file(script), "LogMessage \"hello\"\n");
    EXPECT_EQ(read_file(mtl), "newmtl mine\n");
    EXPECT_TRUE(fs::is_symlink(dir / "plugin_link.ply"));
    EXPECT_FALSE(fs::exists(dir / "x.obj"));
    EXPECT_FALSE(fs::exists(dir / "out.obj"));
    EXPECT_FALSE(fs::exists(dir / "out.mtl"));
}

// A link is followed and its target replaced (or created), with the target's mode; the link stays.
TEST_F(OutputFiles, OutputsThroughALinkReplaceItsTargetAndKeepTheLink) {
    const fs::path in = copy_example("mixed.obj");
    const fs::path old_log = write("old.jsonl", "old\n");
    fs::permissions(old_log, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_directory(dir / "real");
    fs::create_symlink(old_log, dir / "log_link");
    fs::create_symlink(dir / "real" / "new.ply", dir / "dangling.ply");
    fs::create_symlink("log_link", dir / "link_to_link");  // a chain, relative to the link's folder

    Result r =
        run({"check", "--log", (dir / "link_to_link").string(), "-o", (dir / "dangling.ply").string(), in.string()});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link_to_link"));
    EXPECT_TRUE(fs::is_symlink(dir / "log_link"));
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.ply"));
    EXPECT_EQ(log_texts(old_log).front(), "checking " + in.string());
    EXPECT_EQ(fs::status(old_log).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(io::read_mesh(dir / "real" / "new.ply").polygon_count(), 10u);
    // No temporary is left beside either target.
    std::size_t entries = 0;
    for (const auto& e : fs::directory_iterator(dir / "real")) entries += e.path().filename().string()[0] == '.';
    EXPECT_EQ(entries, 0u);
}

// A FIFO's reader gets the log through it; the FIFO itself stays.
TEST_F(OutputFiles, AFifoIsWrittenThroughNotReplaced) {
    const fs::path in = copy_example("mixed.obj");
    const fs::path fifo = dir / "log.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    std::string received;
    std::thread reader([&] {
        std::ifstream f(fifo);
        received.assign(std::istreambuf_iterator<char>(f), {});
    });
    Result r = run({"check", "--log", fifo.string(), in.string()});
    // Should torvel not have opened the FIFO, opening it here ends the reader's wait.
    const int unblock = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (unblock >= 0) ::close(unblock);
    reader.join();
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(lines(received).size(), 5u) << received;
    EXPECT_NE(received.find("\"text\":\"checking " + in.string() + "\""), std::string::npos) << received;
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A character device (a node with /dev/null's numbers) named as the log and as -o stays a device.
TEST_F(OutputFiles, ADeviceIsWrittenThroughNotReplaced) {
    const fs::path in = copy_example("mixed.obj");
    const fs::path log_dev = dir / "null", mesh_dev = dir / "null.ply";
    if (::mknod(log_dev.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
        ::mknod(mesh_dev.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "mknod of a character device failed here (" << std::strerror(errno) << "); the test needs root";
    Result r = run({"check", "--log", log_dev.string(), "-o", mesh_dev.string(), in.string()});
    EXPECT_EQ(r.code, 1) << r.err;
    for (const fs::path& p : {log_dev, mesh_dev}) {
        struct stat st {};
        ASSERT_EQ(::lstat(p.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << p;
        EXPECT_EQ(st.st_rdev, makedev(1, 3)) << p;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3) << "a temporary was left";
}

// --log /dev/stdout with stdout redirected to a file: the log goes after the report, through the same
// descriptor, and the file is neither replaced nor overwritten from its start.
TEST_F(OutputFiles, LogToTheProgramsOwnStdoutAppendsToWhatItPrinted) {
    const fs::path in = copy_example("mixed.obj");
    const fs::path out = dir / "all.txt";
    RunOptions shell;
    shell.exe = "/bin/sh";
    Result r =
        run({"-c", "exec \"$0\" check --log /dev/stdout \"$1\" > \"$2\"", kTorvel.string(), in.string(), out.string()},
            shell);
    EXPECT_EQ(r.code, 1) << r.err;
    const std::vector<std::string> got = lines(read_file(out));
    ASSERT_EQ(got.size(), 6u) << read_file(out);
    EXPECT_EQ(got[0], in.string() + ": 3 of 10 polygons non-planar at 45\u00b0: 5-7");
    EXPECT_EQ(got[1], "{\"severity\":16,\"text\":\"checking " + in.string() + "\"}");
    EXPECT_TRUE(fs::is_regular_file(out));
}

// torvel run by the shell with `redirect` after it: `exec torvel ARGS... REDIRECT`.
Result run_redirected(const std::vector<std::string>& args, const std::string& redirect) {
    RunOptions shell;
    shell.exe = "/bin/sh";
    std::vector<std::string> sh{"-c", "exec \"$0\" \"$@\" " + redirect, kTorvel.string()};
    sh.insert(sh.end(), args.begin(), args.end());
    return run(sh, shell);
}

// Standard output on a full device: every subcommand that prints fails with exit 2 and the reason,
// once, after its other messages; also when the output is lost long before the end. A run that prints
// nothing is not affected.
TEST_F(OutputFiles, AStandardOutputThatCannotBeWrittenIsAnError) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    const fs::path in = copy_example("mixed.obj");
    std::string many;  // far more than any buffer holds
    for (int i = 0; i < 4000; ++i)
        many += "LogMessage \"line " + std::to_string(i) + " " + std::string(60, 'x') + "\"\n";
    const fs::path script = write("many.tvs", many);
    const std::string full = "torvel: standard output: No space left on device\n";
    const std::vector<std::vector<std::string>> runs = {
        {"check", in.string()},
        {"check", "--format", "json", "--details", in.string()},
        {"check", "-l", in.string()},
        {"fix", "--dry-run", in.string()},
        {"fix", "--dry-run", "--format", "json", in.string()},
        {"script", "-c", "LogMessage \"hello\""},
        {"script", script.string()},
        {"plugin-info", kPlugin.string()},
        {"plugin-info", "--format", "json", kPlugin.string()},
        {"--version"},
        {"check", "--help"},
    };
    for (const std::vector<std::string>& args : runs) {
        const Result r = run_redirected(args, "> /dev/full");
        EXPECT_EQ(r.code, 2) << args[0] << " " << args[1];
        EXPECT_EQ(r.err, full) << args[0] << " " << args[1];
    }

    const Result missing = run_redirected({"check", in.string(), (dir / "missing.obj").string()}, "> /dev/full");
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(missing.err,
              "torvel: " + (dir / "missing.obj").string() + ": cannot open: No such file or directory\n" + full);

    const Result quiet = run_redirected({"check", "-q", in.string()}, "> /dev/full");
    EXPECT_EQ(quiet.code, 1) << quiet.err;
    EXPECT_EQ(quiet.err, "");
}

// Standard output and error on one pipe: each file's line and each error arrive in the order the run
// met them, whatever buffers standard output.
TEST_F(OutputFiles, StandardOutputAndErrorKeepTheirOrderOnOnePipe) {
    const fs::path a = copy_example("mixed.obj", "a.obj"), b = copy_example("mixed.obj", "b.obj");
    const fs::path missing = dir / "missing.obj";
    const Result r = run_redirected({"check", "-j", "1", a.string(), missing.string(), b.string()}, "2>&1");
    EXPECT_EQ(r.code, 2);
    const std::vector<std::string> got = lines(r.out);
    ASSERT_EQ(got.size(), 4u) << r.out;
    EXPECT_TRUE(got[0].starts_with(a.string() + ": 3 of 10")) << r.out;
    EXPECT_EQ(got[1], "torvel: " + missing.string() + ": cannot open: No such file or directory");
    EXPECT_TRUE(got[2].starts_with(b.string() + ": 3 of 10")) << r.out;
    EXPECT_TRUE(got[3].starts_with("summary: 2 files checked")) << r.out;
}

}  // namespace
}  // namespace apptest
