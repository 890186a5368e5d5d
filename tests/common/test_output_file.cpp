// OutputFile: what an output does to what is already at its name, and what a failed output leaves.
#include "errors.h"
#include "output_file.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;
using torvel::OutputFile;
using torvel::test::read_file;
using torvel::test::thrown_message;

namespace {

std::size_t entries(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(OutputFile, ReplacesARegularFileWholeOnlyWhenPublishedAndKeepsItsMode) {
    const torvel::test::TempDir tmp;
    const fs::path file = tmp.write("out.txt", "old");
    ::chmod(file.c_str(), 0640);
    {
        OutputFile out(file, "out.txt");
        out.write("new");
        out.finish();
        EXPECT_EQ(read_file(file), "old");  // finished, not yet published
        out.publish();
    }
    EXPECT_EQ(read_file(file), "new");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // Abandoned before publish: the old file stays and no temporary is left.
    {
        OutputFile out(file, "out.txt");
        out.write("never");
    }
    EXPECT_EQ(read_file(file), "new");
    EXPECT_EQ(entries(tmp.path()), 1u);
}

TEST(OutputFile, WithdrawRemovesOnlyAFileItCreated) {
    const torvel::test::TempDir tmp;
    const fs::path fresh = tmp.path() / "fresh.mtl";
    const fs::path old = tmp.write("old.mtl", "old");
    for (const fs::path& p : {fresh, old}) {
        OutputFile out(p, p.filename().string());
        out.write("written");
        out.commit();
        out.withdraw();
    }
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_EQ(read_file(old), "written");
}

TEST(OutputFile, RefusesAProtectedFileByIdentityNamingItsRole) {
    const torvel::test::TempDir tmp;
    const fs::path in = tmp.write("in.obj", "mesh");
    fs::create_symlink(in, tmp.path() / "link.obj");
    torvel::RunFiles files;
    files.add_input(in, torvel::role::input);
    const std::string message =
        thrown_message<torvel::FileError>([&] { OutputFile out(tmp.path() / "link.obj", "shown.obj", &files); });
    EXPECT_EQ(message, "shown.obj: refusing to overwrite the input " + in.string());
    EXPECT_EQ(read_file(in), "mesh");
    EXPECT_NE(thrown_message<torvel::FileError>([&] { OutputFile out(tmp.path(), "dir"); }).find("is a directory"),
              std::string::npos);
}

}  // namespace
