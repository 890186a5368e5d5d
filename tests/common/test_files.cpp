#include "files.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;
using torvel::same_file;

namespace {

// The working directory for one scope.
class InDirectory {
public:
    explicit InDirectory(const fs::path& dir) : previous_(fs::current_path()) { fs::current_path(dir); }
    ~InDirectory() { fs::current_path(previous_); }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

private:
    fs::path previous_;
};

}  // namespace

TEST(SameFile, ExistingFilesByIdentity) {
    const torvel::test::TempDir tmp;
    const fs::path& d = tmp.path();
    fs::create_directory(d / "a");
    const fs::path x = tmp.write("a/x", "x");
    const fs::path y = tmp.write("a/y", "x");  // same contents, another file
    fs::create_hard_link(x, d / "hard");
    fs::create_symlink(x, d / "soft");
    fs::create_directory_symlink(d / "a", d / "alias");

    EXPECT_TRUE(same_file(x, x));
    EXPECT_TRUE(same_file(d / "a" / ".." / "a" / "x", x));
    EXPECT_TRUE(same_file(d / "a" / "." / "x", d / "alias" / "x"));
    EXPECT_TRUE(same_file(d / "hard", x));
    EXPECT_TRUE(same_file(x, d / "soft"));
    EXPECT_TRUE(same_file(d / "soft", d / "hard"));
    {
        const InDirectory in(d / "a");
        EXPECT_TRUE(same_file("x", x));
        EXPECT_TRUE(same_file("../soft", "./x"));
        EXPECT_FALSE(same_file("x", "y"));
    }

    EXPECT_FALSE(same_file(x, y));
    EXPECT_FALSE(same_file(d / "soft", y));
    EXPECT_FALSE(same_file(x, d / "a"));
    // A hard link keeps naming the file after the original name is given to another one.
    fs::rename(y, x);
    EXPECT_FALSE(same_file(x, d / "hard"));
}

TEST(SameFile, MissingFilesByCanonicalPath) {
    const torvel::test::TempDir tmp;
    const fs::path& d = tmp.path();
    fs::create_directory(d / "real");
    fs::create_directory_symlink(d / "real", d / "alias");
    const fs::path in = tmp.write("real/in.obj", "v");

    // An output not written yet, beside a link to its folder.
    EXPECT_TRUE(same_file(d / "alias" / "out.obj", d / "real" / "out.obj"));
    EXPECT_TRUE(same_file(d / "real" / ".." / "alias" / "out.obj", d / "real" / "out.obj"));
    EXPECT_TRUE(same_file(d / "alias" / "no" / ".." / "out.obj", d / "real" / "out.obj"));
    EXPECT_FALSE(same_file(d / "alias" / "out.obj", d / "real" / "out.ply"));
    EXPECT_FALSE(same_file(d / "alias" / "out.obj", in));
    EXPECT_FALSE(same_file(in, d / "nowhere" / "in.obj"));
    {
        const InDirectory inside(d / "alias");
        EXPECT_TRUE(same_file("out.obj", d / "real" / "out.obj"));
    }
    EXPECT_FALSE(same_file("", ""));
    EXPECT_FALSE(same_file(in, ""));

    // A link whose target is not there yet is the file an output through it would create, also along
    // a chain of links and through a relative target.
    fs::create_symlink(d / "real" / "new.obj", d / "dangling");
    fs::create_symlink("dangling", d / "chain");
    EXPECT_TRUE(same_file(d / "dangling", d / "real" / "new.obj"));
    EXPECT_TRUE(same_file(d / "alias" / "new.obj", d / "chain"));
    EXPECT_FALSE(same_file(d / "dangling", d / "real" / "other.obj"));
}

TEST(SameFile, UnsearchableFolderComparesBySpelling) {
    if (::geteuid() == 0) GTEST_SKIP() << "root searches any folder";
    const torvel::test::TempDir tmp;
    const fs::path locked = tmp.path() / "locked";
    fs::create_directory(locked);
    fs::permissions(locked, fs::perms::none);
    EXPECT_TRUE(same_file(locked / "." / "out.obj", locked / "out.obj"));
    EXPECT_FALSE(same_file(locked / "out.obj", locked / "in.obj"));
    fs::permissions(locked, fs::perms::owner_all);
}
