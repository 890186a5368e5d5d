// The findings of a file: which rule each reported polygon falls under, TV003 beside the verdict, and
// fingerprints that follow a polygon through edits of the rest of the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "findings.h"
#include "findings_test_util.h"

using namespace torvel::findings;
using namespace findtest;

namespace {

std::vector<Finding> findings_of(const std::vector<TestObject>& objects, std::optional<double> max_distance = {}) {
    return file_findings("meshes/house.obj", inputs(objects), {45, max_distance});
}

}  // namespace

TEST(Rules, FailOnListsTakeIdsOrNamesAndNameWhatIsUnknown) {
    EXPECT_EQ(parse_rules("TV001,TV002"), (RuleSet{Rule::non_planar, Rule::degenerate}));
    EXPECT_EQ(parse_rules(" tv003 , Non-Planar"), (RuleSet{Rule::out_of_plane, Rule::non_planar}));
    EXPECT_TRUE(parse_rules("").empty());
    EXPECT_TRUE(parse_rules("  ").empty());
    EXPECT_EQ(default_fail_on(false), (RuleSet{Rule::non_planar, Rule::degenerate}));
    EXPECT_TRUE(default_fail_on(true).has(Rule::out_of_plane));
    for (const char* bad : {"TV001,TV004", "TV001,", "bent"}) {
        try {
            parse_rules(bad);
            ADD_FAILURE() << bad;
        } catch (const RuleError& e) {
            EXPECT_NE(std::string(e.what()).find("unknown rule"), std::string::npos) << e.what();
        }
    }
    EXPECT_NE([]() -> std::string {
                  try {
                      parse_rules("TV001,TV004");
                  } catch (const RuleError& e) {
                      return e.what();  // copied before the exception is gone
                  }
                  return "";
              }()
                  .find("\"TV004\""),
              std::string::npos);
    EXPECT_EQ(rule_info(Rule::degenerate).id, "TV002");
    EXPECT_EQ(rule_info(Rule::out_of_plane).name, "out-of-plane");
}

TEST(FileFindings, EveryReportedPolygonIsOneFindingOfTV001OrTV002) {
    const std::vector<Finding> found = findings_of(sample());
    // Reported: walls 1, 2, 3, 5 and roof 0 (file polygon 6).
    ASSERT_EQ(found.size(), 5u);
    std::vector<std::uint32_t> polygons;
    for (const Finding& f : found) polygons.push_back(f.polygon);
    EXPECT_EQ(polygons, (std::vector<std::uint32_t>{1, 2, 3, 5, 6}));
    EXPECT_EQ(found[0].rule, Rule::non_planar);
    EXPECT_EQ(found[0].message, "polygon 1 (object 'walls') is non-planar at 45\u00b0: bend 45\u00b0");
    EXPECT_EQ(found[0].line, 11u);
    EXPECT_EQ(found[0].path, "meshes/house.obj");
    // The exactly straight corner and the noise corner of flat polygons: TV002, flat.
    EXPECT_EQ(found[1].rule, Rule::degenerate);
    EXPECT_TRUE(found[1].flat);
    EXPECT_EQ(found[1].corner, 1u);
    EXPECT_EQ(found[1].message,
              "polygon 2 (object 'walls') is reported by the filter: flat, but corner 1 is collinear");
    EXPECT_EQ(found[2].rule, Rule::degenerate);
    EXPECT_EQ(found[2].message,
              "polygon 3 (object 'walls') is reported by the filter: flat, but corner 1 is nearly collinear");
    // A straight corner in a bent polygon is still TV002, and the message says it is not flat.
    EXPECT_EQ(found[3].rule, Rule::degenerate);
    EXPECT_FALSE(found[3].flat);
    EXPECT_NE(found[3].message.find("corner 1 is collinear, and it is out of plane by"), std::string::npos);
    // The second object's polygons are numbered on from the first's; it has no lines.
    EXPECT_EQ(found[4].object, "roof");
    EXPECT_EQ(found[4].object_polygon, 0u);
    EXPECT_FALSE(found[4].line);
    EXPECT_EQ(found[4].rule, Rule::non_planar);
    EXPECT_TRUE(fails(found, RuleSet{Rule::degenerate}));
    EXPECT_FALSE(fails(found, RuleSet{Rule::out_of_plane}));
}

TEST(FileFindings, OutOfPlaneIsItsOwnRuleBesideTheVerdict) {
    const std::vector<Finding> without = findings_of(sample());
    const std::vector<Finding> with = findings_of(sample(), 0.01);
    // TV003 after a polygon's TV001/TV002, which stay as they were: the raised square (0.2 out), the walls'
    // facade (not reported), the bent straight-corner polygon and the roof's facade (reported).
    std::vector<std::pair<std::uint32_t, Rule>> seen;
    std::vector<std::string> verdicts;
    for (const Finding& f : with) {
        seen.emplace_back(f.polygon, f.rule);
        if (f.rule != Rule::out_of_plane) verdicts.push_back(f.message);
    }
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint32_t, Rule>>{{1, Rule::non_planar},
                                                                 {1, Rule::out_of_plane},
                                                                 {2, Rule::degenerate},
                                                                 {3, Rule::degenerate},
                                                                 {4, Rule::out_of_plane},
                                                                 {5, Rule::degenerate},
                                                                 {5, Rule::out_of_plane},
                                                                 {6, Rule::non_planar},
                                                                 {6, Rule::out_of_plane}}));
    ASSERT_EQ(verdicts.size(), without.size());
    for (std::size_t k = 0; k < without.size(); ++k) EXPECT_EQ(verdicts[k], without[k].message);
    const Finding& wall = with[4];
    EXPECT_NEAR(*wall.distance, 0.0125, 1e-5);
    EXPECT_EQ(wall.line, 14u);
    EXPECT_EQ(wall.message,
              "polygon 4 (object 'walls') has a corner 0.0125 from its best-fit plane (more than the maximum "
              "distance 0.01)");
    EXPECT_NEAR(*with[1].distance, 1 / (2 * std::sqrt(6.0)), 1e-12);
    // Above every corner's distance: no TV003 at all.
    EXPECT_EQ(findings_of(sample(), 1.0).size(), without.size());
}

TEST(FileFindings, ArraysThatDoNotHoldTogetherThrow) {
    std::vector<TestObject> objects = sample();
    objects[1].reported.push_back(9);
    EXPECT_THROW(findings_of(objects), std::invalid_argument);
    objects = sample();
    objects[0].indices[5] = 999;
    EXPECT_THROW(findings_of(objects), std::invalid_argument);
    EXPECT_TRUE(file_findings("empty.obj", {}, {}).empty());
}

TEST(Fingerprints, FollowThePolygonThroughEditsOfTheRestOfTheFile) {
    const std::vector<Finding> before = findings_of(sample(), 0.01);
    auto prints = [](const std::vector<Finding>& found) {
        std::vector<std::string> out;
        for (const Finding& f : found) out.push_back(f.fingerprint);
        std::sort(out.begin(), out.end());
        return out;
    };
    for (const Finding& f : before) EXPECT_EQ(f.fingerprint.size(), 16u);
    // Unrelated polygons added in front and the flat square removed: the same fingerprints.
    std::vector<TestObject> edited = sample();
    TestObject walls("walls");
    walls.add(square(), false);
    walls.add({{0.2, 0, 0}, {0.8, 0, 0}, {0.5, 0.5, 0}}, false);
    for (std::size_t k = 1; k + 1 < edited[0].offsets.size(); ++k) {
        std::vector<std::array<double, 3>> corners = edited[0].corners(k);
        // Reversed polygon order, corner lists rotated by one: vertices renumbered as well.
        std::rotate(corners.begin(), corners.begin() + 1, corners.end());
        const bool was_reported = std::count(edited[0].reported.begin(), edited[0].reported.end(), k) > 0;
        walls.add(corners, was_reported);
    }
    edited[0] = walls;
    const std::vector<Finding> after = findings_of(edited, 0.01);
    EXPECT_EQ(prints(after), prints(before));
    EXPECT_NE(after[0].polygon, before[0].polygon);

    // A corner moved by far more than the grid, another path, another object name: new fingerprints.
    const std::vector<Finding> base = findings_of(sample());
    std::vector<TestObject> moved = sample();
    moved[0].positions[3 * 6 + 2] += 0.01;  // polygon 1's raised corner
    EXPECT_NE(findings_of(moved)[0].fingerprint, base[0].fingerprint);
    EXPECT_EQ(findings_of(moved)[1].fingerprint, base[1].fingerprint);
    EXPECT_NE(file_findings("other.obj", inputs(sample()), {})[0].fingerprint, base[0].fingerprint);
    std::vector<TestObject> renamed = sample();
    renamed[0].name = "wall";
    EXPECT_NE(findings_of(renamed)[0].fingerprint, base[0].fingerprint);
}

TEST(Fingerprints, GridIsAPowerOfTwoAtLeastAMillionthOfTheExtent) {
    const double grid = fingerprint_grid(inputs(sample()));  // extent 100
    EXPECT_GE(grid, 1e-4);
    EXPECT_LT(grid, 2e-4);
    EXPECT_EQ(grid, std::exp2(std::round(std::log2(grid))));
    EXPECT_EQ(fingerprint_grid({}), 1.0);
    // Positions within a grid step of each other on the same side of a rounding boundary hash alike.
    const std::vector<double> a{0, 0, 0, 1, 0, 0, 1, 1, 0.25, 0, 1, 0};
    std::vector<double> b = a;
    b[8] += 1e-12;
    EXPECT_EQ(fingerprint("p", "o", Rule::non_planar, a, 1.0 / 1024),
              fingerprint("p", "o", Rule::non_planar, b, 1.0 / 1024));
    EXPECT_NE(fingerprint("p", "o", Rule::non_planar, a, 1.0 / 1024),
              fingerprint("p", "o", Rule::degenerate, a, 1.0 / 1024));
    // Path and object do not run together: ("ab", "c") is not ("a", "bc").
    EXPECT_NE(fingerprint("ab", "c", Rule::non_planar, a, 1), fingerprint("a", "bc", Rule::non_planar, a, 1));
}
