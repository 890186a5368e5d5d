// RunFiles: which output a run refuses, before any work and when the output is written.
#include "errors.h"
#include "output_file.h"
#include "run_files.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using torvel::ErrorCode;
using torvel::FileError;
using torvel::OutputFile;
using torvel::RunFiles;
namespace role = torvel::role;
using torvel::test::read_file;
using torvel::test::thrown_message;

namespace {

std::string refusal_of(RunFiles& files) {
    return thrown_message<FileError>([&] { files.refuse_clashes(); });
}

// Registrations in the order a run makes them, and the refusal refuse_clashes() gives for them.
TEST(RunFiles, RefusesTheLaterOfTwoOutputsAndNeverAFileTheRunReads) {
    const torvel::test::TempDir tmp;
    const fs::path d = tmp.path();
    const fs::path mesh = tmp.write("m.obj", "v"), plugin = tmp.write("p.so", "elf");
    fs::create_symlink(mesh, d / "link.png");
    fs::create_symlink(d / "report.html", d / "dangling.png");

    struct Registration {
        bool output;
        fs::path path;
        std::string_view role;
        std::string shown;
    };
    struct Case {
        const char* what;
        std::vector<Registration> files;
        std::string refusal;  // empty: none
    };
    const std::vector<Case> cases = {
        {"distinct files",
         {{false, mesh, role::input, ""},
          {true, d / "out.obj", role::output, "out.obj"},
          {true, d / "run.jsonl", role::log, "--log run.jsonl"},
          {false, plugin, role::plugin, ""}},
         ""},
        {"an output over an input, through a link",
         {{false, mesh, role::input, ""}, {true, d / "link.png", role::picture, "link.png"}},
         "link.png: refusing to overwrite the input " + mesh.string()},
        {"a file read registered after the output still wins",
         {{true, d / "run.jsonl", role::log, "--log p.so"}, {false, d / "run.jsonl", role::plugin, ""}},
         "--log p.so: refusing to overwrite the plug-in library " + (d / "run.jsonl").string()},
        {"of two outputs the later is refused",
         {{true, d / "x.png", role::picture, "x.png"}, {true, d / "." / "x.png", role::report, "--html ./x.png"}},
         "--html ./x.png: refusing to overwrite a picture " + (d / "x.png").string()},
        {"two outputs of one role",
         {{true, d / "a.obj", role::output, "a.obj"}, {true, d / "a.obj", role::output, "a.obj (material file)"}},
         "a.obj (material file): refusing to overwrite the output " + (d / "a.obj").string()},
        {"a link to an output not written yet",
         {{true, d / "report.html", role::report, "--html report.html"},
          {true, d / "dangling.png", role::log, "--log dangling.png"}},
         "--log dangling.png: refusing to overwrite the report " + (d / "report.html").string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunFiles files;
        for (const Registration& r : c.files)
            r.output ? files.add_output(r.path, r.role, r.shown) : files.add_input(r.path, r.role);
        EXPECT_EQ(refusal_of(files), c.refusal);
        if (c.refusal.empty()) {
            EXPECT_EQ(files.refused(), nullptr);
        } else {
            ASSERT_NE(files.refused(), nullptr);
            EXPECT_TRUE(c.refusal.starts_with(files.refused()->shown));
        }
    }
    try {
        RunFiles files;
        files.add_input(mesh, role::input);
        files.add_output(mesh, role::log, "--log m.obj");
        files.refuse_clashes();
        ADD_FAILURE() << "not refused";
    } catch (const FileError& e) {
        EXPECT_EQ(e.code(), ErrorCode::output_refused);
        EXPECT_EQ(e.file(), "--log m.obj");
    }
}

// When an output is written, every file of another role counts, and an output of its own role does
// not: a script exporting to one file twice writes its own file again.
TEST(RunFiles, AnOutputMayBeWrittenAgainAsItselfButOverNothingElse) {
    const torvel::test::TempDir tmp;
    const fs::path d = tmp.path();
    RunFiles files;
    files.add_input(d / "m.obj", role::input);
    files.add_output(d / "out.obj", role::exported, "out.obj");
    files.add_output(d / "run.jsonl", role::log, "--log run.jsonl");
    EXPECT_EQ(files.clash(d / "out.obj", role::exported), nullptr);
    ASSERT_NE(files.clash(d / "out.obj", role::log), nullptr);
    EXPECT_EQ(files.clash(d / "out.obj", role::log)->role, role::exported);
    EXPECT_EQ(files.clash(d / "run.jsonl", role::exported)->role, role::log);
    EXPECT_EQ(files.clash(d / "m.obj", role::exported)->role, role::input);
    EXPECT_EQ(files.clash(d / "." / "m.obj", "")->role, role::input);  // an output not registered
    EXPECT_EQ(files.clash(d / "other.obj", ""), nullptr);
}

// OutputFile checks again before it publishes: a file registered after the output was opened (a
// script's import) is never replaced, and nothing is left behind.
TEST(RunFiles, OutputFileRefusesAFileRegisteredWhileItWasWritten) {
    const torvel::test::TempDir tmp;
    const fs::path target = tmp.write("late.obj", "read later");
    RunFiles files;
    {
        OutputFile out(target, "late.obj", &files, role::exported);
        out.write("replaced");
        out.finish();
        files.add_input(target, role::input);
        try {
            out.publish();
            ADD_FAILURE() << "published";
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()), "late.obj: refusing to overwrite the input " + target.string());
            EXPECT_EQ(e.code(), ErrorCode::output_refused);
        }
    }
    EXPECT_EQ(read_file(target), "read later");
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
}

}  // namespace
