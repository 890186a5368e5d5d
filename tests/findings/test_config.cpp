// torvel.toml: every key read, every mistake named by file, line and key, discovery upwards, globs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "config.h"

using namespace torvel::findings;
namespace fs = std::filesystem;

namespace {

std::string error_of(std::string_view text) {
    try {
        parse_config(text, "/p/torvel.toml");
    } catch (const ConfigError& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(Config, ReadsEveryKeyAndOverridesInOrder) {
    const Config c = parse_config(R"(tolerance = 30
max-distance = 0.01
exclude = ["build/**", "*.tmp.obj"]
jobs = 4
format = "sarif"
[[override]]
paths = ["facades/**"]
tolerance = 10.5
[[override]]
paths = ["facades/old/*.obj"]
max-distance = 1
)",
                                  "/p/torvel.toml");
    EXPECT_EQ(c.tolerance, 30.0);
    EXPECT_EQ(c.max_distance, 0.01);
    EXPECT_EQ(c.exclude, (std::vector<std::string>{"build/**", "*.tmp.obj"}));
    EXPECT_EQ(c.jobs, 4u);
    EXPECT_EQ(c.format, "sarif");
    ASSERT_EQ(c.overrides.size(), 2u);
    EXPECT_TRUE(excluded(c, "/p/build/x/y.obj"));
    EXPECT_TRUE(excluded(c, "/p/a.tmp.obj"));
    EXPECT_FALSE(excluded(c, "/p/sub/a.tmp.obj"));  // '*' stops at '/'
    EXPECT_FALSE(excluded(c, "/elsewhere/build/y.obj"));
    const MeshSettings plain = settings_for(c, "/p/roof.obj");
    EXPECT_EQ(plain.tolerance, 30.0);
    const MeshSettings facade = settings_for(c, "/p/facades/new/n.obj");
    EXPECT_EQ(facade.tolerance, 10.5);
    EXPECT_EQ(facade.max_distance, 0.01);
    const MeshSettings old = settings_for(c, "/p/facades/old/o.obj");  // both overrides, key by key
    EXPECT_EQ(old.tolerance, 10.5);
    EXPECT_EQ(old.max_distance, 1.0);
    EXPECT_EQ(parse_config("", "/p/torvel.toml").overrides.size(), 0u);
}

TEST(Config, MistakesNameTheFileTheLineAndTheKey) {
    EXPECT_EQ(error_of("tolerance = 30\ncolour = 1\n"),
              "/p/torvel.toml:2: colour: unknown key (torvel.toml takes tolerance, max-distance, exclude, jobs, "
              "format and [[override]])");
    EXPECT_EQ(error_of("\n\ntolerance = \"thirty\"\n"), "/p/torvel.toml:3: tolerance: expected a number, got string");
    EXPECT_EQ(error_of("tolerance = 91\n"), "/p/torvel.toml:1: tolerance: out of range (0 to 90)");
    EXPECT_EQ(error_of("max-distance = -1\n"), "/p/torvel.toml:1: max-distance: out of range (0 or more)");
    EXPECT_EQ(error_of("max-distance = nan\n"), "/p/torvel.toml:1: max-distance: out of range (0 or more)");
    EXPECT_EQ(error_of("jobs = 0\n"), "/p/torvel.toml:1: jobs: out of range (1 to 1024)");
    EXPECT_EQ(error_of("jobs = 2.5\n"), "/p/torvel.toml:1: jobs: expected an integer, got floating-point");
    EXPECT_EQ(error_of("format = \"xml\"\n"),
              "/p/torvel.toml:1: format: unknown format \"xml\" (text, json, sarif, junit or github)");
    EXPECT_EQ(error_of("exclude = \"build\"\n"),
              "/p/torvel.toml:1: exclude: expected an array of glob strings, got string");
    EXPECT_EQ(error_of("exclude = [\"a\",\n 3]\n"), "/p/torvel.toml:2: exclude: expected a glob string, got integer");
    EXPECT_EQ(error_of("[[override]]\ntolerance = 3\n"),
              "/p/torvel.toml:1: override: an override needs paths = [\"GLOB\", ...]");
    EXPECT_EQ(error_of("[[override]]\npaths = [\"a\"]\njobs = 3\n"),
              "/p/torvel.toml:3: override.jobs: unknown key (an override takes paths, tolerance and max-distance)");
    EXPECT_EQ(error_of("[override]\npaths = [\"a\"]\n"), "/p/torvel.toml:1: override: expected [[override]] tables");
    // Not TOML at all: toml++'s own words, with the line.
    const std::string syntax = error_of("tolerance = 30\njobs = = 2\n");
    EXPECT_EQ(syntax.rfind("/p/torvel.toml:2: ", 0), 0u) << syntax;
    EXPECT_EQ(error_of("tolerance = 30\ntolerance = 31\n").rfind("/p/torvel.toml:2: ", 0), 0u);
}

TEST(Config, FoundInTheFolderOrAboveAndReadFromDisk) {
    const fs::path root = fs::temp_directory_path() / ("torvel_config_" + std::to_string(::getpid()));
    fs::create_directories(root / "a" / "b");
    EXPECT_NE(find_config(root / "a" / "b"), root / "torvel.toml");
    std::ofstream(root / "torvel.toml") << "tolerance = 12\n";
    EXPECT_EQ(find_config(root / "a" / "b"), root / "torvel.toml");
    std::ofstream(root / "a" / "torvel.toml") << "jobs = true\n";
    EXPECT_EQ(find_config(root / "a" / "b"), root / "a" / "torvel.toml");  // the nearest
    EXPECT_EQ(load_config(root / "torvel.toml").tolerance, 12.0);
    try {
        load_config(root / "a" / "torvel.toml");
        ADD_FAILURE();
    } catch (const ConfigError& e) {
        EXPECT_EQ(std::string(e.what()),
                  (root / "a" / "torvel.toml").string() + ":1: jobs: expected an integer, got boolean");
    }
    EXPECT_THROW(load_config(root / "missing.toml"), ConfigError);
    fs::remove_all(root);
}

TEST(Glob, StarsQuestionMarksAndSets) {
    struct Case {
        const char* glob;
        const char* path;
        bool match;
    };
    for (const Case& c : std::initializer_list<Case>{{"*.obj", "a.obj", true},
                                                     {"*.obj", "d/a.obj", false},
                                                     {"**/*.obj", "a.obj", true},
                                                     {"**/*.obj", "d/e/a.obj", true},
                                                     {"d/**", "d/e/a.obj", true},
                                                     {"d/**", "dx/a.obj", false},
                                                     {"a?c", "abc", true},
                                                     {"a?c", "a/c", false},
                                                     {"[ab]*.ply", "b1.ply", true},
                                                     {"[!ab]*.ply", "b1.ply", false},
                                                     {"lod[0-2].obj", "lod1.obj", true},
                                                     {"lod[0-2].obj", "lod3.obj", false},
                                                     {"[", "[", true},
                                                     {"exact.obj", "exact.obj", true},
                                                     {"exact.obj", "exact.obj2", false}}) {
        EXPECT_EQ(glob_match(c.glob, c.path), c.match) << c.glob << " " << c.path;
    }
}
