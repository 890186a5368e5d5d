// The code of each error check and fix report in JSON: every code the program gives an input or an
// output that could not be handled, produced through the executable, the same with -j 1 and -j 2
// (the code crosses the worker's frame), with the text output as it always was.
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <functional>

#include "run.h"

using nlohmann::json;

namespace apptest {
namespace {

// Under a sanitizer the child's own report can come first on the stderr it shares with torvel.
std::string without_sanitizer_lines(const std::string& err) {
    std::string out;
    for (const std::string& line : lines(err))
        if (line.rfind("==", 0) != 0) out += line + "\n";
    return out;
}

constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#else
    false;
#endif

// A binary PLY of `vertices` vertices and a quad per four: the file is small next to the doubles its
// vertices become.
void write_large_ply(const fs::path& path, std::uint32_t vertices) {
    std::ofstream f(path, std::ios::binary);
    f << "ply\nformat binary_little_endian 1.0\nelement vertex " << vertices
      << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << vertices / 4
      << "\nproperty list uchar uint vertex_indices\nend_header\n";
    std::vector<float> xyz(3 * std::size_t{vertices});
    for (std::size_t i = 0; i < xyz.size(); ++i) xyz[i] = static_cast<float>(i % 7);
    f.write(reinterpret_cast<const char*>(xyz.data()), static_cast<std::streamsize>(xyz.size() * sizeof(float)));
    std::string faces;
    for (std::uint32_t q = 0; q < vertices / 4; ++q) {
        faces += '\4';
        for (std::uint32_t k = 0; k < 4; ++k) {
            const std::uint32_t v = 4 * q + k;
            faces.append(reinterpret_cast<const char*>(&v), 4);
        }
    }
    f << faces;
}

class ErrorCodes : public TempDirTest {
protected:
    struct Case {
        std::string code;
        // Makes the file at fault in `dir`; returns the path the error names (and adds what the run needs).
        std::function<std::string(std::vector<std::string>& args, RunOptions& options)> make;
        bool one_process = true;  // also with -j 1 (a worker's crash only happens in a worker)
    };

    // The run of `args` with `jobs` (its good file beside the one at fault) fails with exactly one error,
    // `path` with `code`, its message as on stderr; the good file is still checked.
    json expect_one_error(const std::vector<std::string>& args, const RunOptions& options, const std::string& path,
                          const std::string& code) {
        const Result r = run(args, options);
        EXPECT_EQ(r.code, 2) << r.err;
        const json doc = json::parse(r.out, nullptr, false);
        if (!doc.is_object()) {
            ADD_FAILURE() << "not JSON: " << r.out << r.err;
            return {};
        }
        EXPECT_EQ(doc["errors"].size(), 1u) << r.out;
        if (doc["errors"].size() != 1) return doc;
        const json& e = doc["errors"][0];
        EXPECT_EQ(e["path"], path);
        EXPECT_EQ(e["code"], code) << e;
        // Fields only added: "code" comes after "path" and "message", the text is stderr's.
        const std::string text = r.out.substr(r.out.find("\"errors\":"));
        EXPECT_LT(text.find("\"message\""), text.find("\"code\"")) << text;
        EXPECT_EQ(without_sanitizer_lines(r.err), "torvel: " + e["message"].get<std::string>() + "\n");
        return doc;
    }

    fs::path good() const { return copy_example("mixed.obj", "good.obj"); }
};

TEST_F(ErrorCodes, CheckGivesEachErrorItsCodeInOneProcessAndInWorkers) {
    auto file = [this](const std::string& name, const std::string& bytes) {
        return [this, name, bytes](std::vector<std::string>& args, RunOptions&) {
            args.push_back(write(name, bytes).string());
            return args.back();
        };
    };
    auto import_fault = [this](const char* fault, std::vector<std::string> options) {
        return [this, fault, options](std::vector<std::string>& args, RunOptions& o) {
            o.env["TORVEL_TEST_IMPORTER_FAULT"] = fault;
            args.insert(args.end(), options.begin(), options.end());
            args.push_back(write("scene.dae", "<?xml version=\"1.0\"?><COLLADA/>").string());
            return args.back();
        };
    };
    std::vector<Case> cases = {
        {"TV-E-NOT-FOUND",
         [this](std::vector<std::string>& args, RunOptions&) {
             args.push_back((dir / "missing.obj").string());
             return args.back();
         }},
        {"TV-E-UNREADABLE",
         [this](std::vector<std::string>& args, RunOptions&) {
             const fs::path fifo = dir / "pipe.obj";
             EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
             args.push_back(fifo.string());
             return args.back();
         }},
        {"TV-E-EMPTY-FILE", file("empty.obj", "")},
        {"TV-E-PARSE", file("bad.obj", "v 0 0 0\nv 1 0 x\n")},
        {"TV-E-FORMAT", file("notes.txt", "hello\n")},
        {"TV-E-ENCODING", file("wide.obj", std::string("\xff\xfev\0 \0", 6))},
        {"TV-E-IMPORT", file("liar.dae", "v 0 0 0\nf 1 1 1\n")},
        {"TV-E-IMPORT-CRASH", import_fault("crash", {})},
        {"TV-E-IMPORT-TIMEOUT", import_fault("hang", {"--import-timeout", "0.5"})},
        {"TV-E-IMPORT-MEMORY", import_fault("memory", {"--import-memory", "300"})},
        {"TV-E-WORKER-CRASH",
         [this](std::vector<std::string>& args, RunOptions& o) {
             o.env["TORVEL_TEST_WORKER_CRASH"] = "boom.obj";
             args.push_back(copy_example("mixed.obj", "boom.obj").string());
             return args.back();
         },
         false},
        {"TV-E-EMPTY-FOLDER",
         [this](std::vector<std::string>& args, RunOptions&) {
             fs::create_directory(dir / "nothing");
             args.push_back((dir / "nothing").string());
             return args.back();
         }},
        // A picture that cannot be written: its name in the folder is taken by a folder.
        {"TV-E-WRITE",
         [this](std::vector<std::string>& args, RunOptions&) {
             fs::create_directories(dir / "pics" / "other.obj.png");
             args.insert(args.end(), {"--image", (dir / "pics").string()});
             args.push_back(copy_example("flat_quads.obj", "other.obj").string());
             return (dir / "pics" / "other.obj.png").string();
         }},
    };
    // The arrays of a file too large for the memory the run may have (the file itself is mapped, which
    // the limit does not count). Sanitizers reserve more than that limit for themselves.
    if (!kSanitized && fs::exists("/usr/bin/prlimit"))
        cases.push_back({"TV-E-MEMORY", [this](std::vector<std::string>& args, RunOptions& o) {
                             o.exe = "/usr/bin/prlimit";
                             args.insert(args.begin(), {"--data=" + std::to_string(32 << 20), kTorvel.string()});
                             write_large_ply(dir / "large.ply", 2'000'000);
                             args.push_back((dir / "large.ply").string());
                             return args.back();
                         }});

    const std::string good_path = good().string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        std::string out_one;
        for (const char* jobs : {"1", "2"}) {
            if (std::string(jobs) == "1" && !c.one_process) continue;
            SCOPED_TRACE(std::string("-j ") + jobs);
            for (const auto& e : fs::directory_iterator(dir))
                if (e.path().filename() != "good.obj") fs::remove_all(e.path());
            std::vector<std::string> args = {"check", "--format", "json", "-j", jobs};
            RunOptions options;
            args.push_back(good_path);
            const std::string path = c.make(args, options);
            const json doc = expect_one_error(args, options, path, c.code);
            ASSERT_FALSE(doc.is_null());
            EXPECT_EQ(doc["files"][0]["path"], good_path);
            if (out_one.empty())
                out_one = doc.dump();
            else
                EXPECT_EQ(doc.dump(), out_one);  // -j 2 gives what -j 1 gives
        }
    }
}

TEST_F(ErrorCodes, FixGivesEachErrorItsCode) {
    struct FixCase {
        std::string code;
        std::function<std::string()> input;  // the MESH argument
        std::string output = "fixed.ply";
        std::string path;  // the error's path, when not the input
    };
    const std::vector<FixCase> cases = {
        {"TV-E-NOT-FOUND", [this] { return (dir / "missing.obj").string(); }, "fixed.ply", ""},
        {"TV-E-FOLDER",
         [this] {
             fs::create_directory(dir / "models");
             return (dir / "models").string();
         },
         "fixed.ply", ""},
        {"TV-E-EMPTY-FILE", [this] { return write("empty.ply", "").string(); }, "fixed.ply", ""},
        {"TV-E-PARSE", [this] { return write("bad.off", "OFF\n1 0 0\n0 0 x\n").string(); }, "fixed.ply", ""},
        {"TV-E-ENCODING", [this] { return write("wide.obj", std::string("\xfe\xff\0v", 4)).string(); }, "fixed.ply",
         ""},
        {"TV-E-FORMAT", [this] { return write("notes.txt", "v 0 0 0\n").string(); }, "fixed.ply", ""},
        {"TV-E-IMPORT", [this] { return write("liar.dae", "v 0 0 0\n").string(); }, "fixed.ply", ""},
        {"TV-E-WRITE", [this] { return copy_example("mixed.obj", "m.obj").string(); }, "none/fixed.obj",
         "none/fixed.obj"},
    };
    for (const FixCase& c : cases) {
        SCOPED_TRACE(c.code);
        const std::string mesh = c.input();
        const std::string out = (dir / c.output).string();
        expect_one_error({"fix", "--format", "json", mesh, "-o", out}, {},
                         c.path.empty() ? mesh : (dir / c.path).string(), c.code);
        EXPECT_FALSE(fs::exists(out));
    }
}

}  // namespace
}  // namespace apptest
