// The catalogue of error codes: each code once, under a stable name, and the README's table of them
// the same as the catalogue.
#include "errors.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace {

TEST(ErrorCodes, EachCodeHasOneUniqueNameAndTheTypesCarryTheirDefaults) {
    std::set<std::string_view> ids;
    for (const torvel::ErrorInfo& e : torvel::kErrors) {
        EXPECT_TRUE(e.id.starts_with("TV-E-")) << e.id;
        EXPECT_TRUE(ids.insert(e.id).second) << e.id << " twice";
        EXPECT_FALSE(e.message.empty()) << e.id;
    }
    EXPECT_EQ(torvel::UsageError("x").code(), torvel::ErrorCode::usage);
    EXPECT_EQ(torvel::ScriptError("x").code(), torvel::ErrorCode::script);
    EXPECT_EQ(torvel::MeshError("x").code(), torvel::ErrorCode::parse);
    // A file error made from a reader's keeps the reader's code and message.
    const torvel::MeshError cause("m.obj: the file is empty", {}, torvel::ErrorCode::empty_file);
    const torvel::FileError wrapped(cause);
    EXPECT_EQ(wrapped.code(), torvel::ErrorCode::empty_file);
    EXPECT_STREQ(wrapped.what(), cause.what());
    EXPECT_EQ(torvel::code_of(std::runtime_error("x"), torvel::ErrorCode::internal), torvel::ErrorCode::internal);
    EXPECT_EQ(torvel::code_of(wrapped, torvel::ErrorCode::internal), torvel::ErrorCode::empty_file);
}

// The README's table lists every code, in the catalogue's order, each with exit code 2.
TEST(ErrorCodes, TheReadmeTableIsTheCatalogue) {
    const std::string readme = torvel::test::read_file(TORVEL_README);
    const std::regex row(R"(\n\| `(TV-E-[A-Z0-9-]+)` \| [^|\n]+ \| (\d) \|)");
    std::vector<std::string> listed;
    for (auto it = std::sregex_iterator(readme.begin(), readme.end(), row); it != std::sregex_iterator(); ++it) {
        listed.push_back((*it)[1]);
        EXPECT_EQ((*it)[2], "2") << (*it)[1];
    }
    std::vector<std::string> catalogue;
    for (const torvel::ErrorInfo& e : torvel::kErrors) catalogue.emplace_back(e.id);
    EXPECT_EQ(listed, catalogue);
}

}  // namespace
