// Running torvel as a user does: a child process with its own arguments, environment and working
// directory, its output captured.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "test_support.h"

namespace apptest {

namespace fs = std::filesystem;

inline const fs::path kTorvel = TORVEL_EXE;
inline const fs::path kPlugin = TORVEL_PLUGIN_PATH;
inline const fs::path kExamples = TORVEL_EXAMPLES;

struct Result {
    int code = -1;  // exit status; 128 + signal when killed
    std::string out, err;
};

struct RunOptions {
    std::string input;                                      // standard input
    std::map<std::string, std::optional<std::string>> env;  // set (or, with nullopt, remove) variables
    fs::path cwd;                                           // empty: the test's own
    fs::path exe = kTorvel;
};

// TORVEL_PLUGIN is removed from the child's environment unless `options.env` sets it.
Result run(const std::vector<std::string>& args, const RunOptions& options = {});

std::vector<std::string> lines(const std::string& text);
using torvel::test::read_file;
// The texts of a --log file, checking that every line is a {"severity", "text"} object.
std::vector<std::string> log_texts(const fs::path& path);

// A fresh directory, removed at the end of the test.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    fs::path write(const std::string& name, const std::string& bytes) const;
    fs::path copy_example(const std::string& name, const std::string& as = {}) const;
    fs::path dir;

private:
    std::optional<torvel::test::TempDir> scratch_;
};

}  // namespace apptest
