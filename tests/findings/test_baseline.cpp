// Baselines: written, read back, and matched so that only new findings remain, also after the file was
// edited around a recorded finding.
#include <gtest/gtest.h>

#include <algorithm>

#include "baseline.h"
#include "findings_test_util.h"

using namespace torvel::findings;
using namespace findtest;

namespace {

std::vector<FileFindings> run_of(const std::vector<TestObject>& objects) {
    return {{"house.obj", file_findings("house.obj", inputs(objects), {45, 0.01})}};
}

std::size_t count(const std::vector<FileFindings>& files) {
    std::size_t n = 0;
    for (const FileFindings& f : files) n += f.findings.size();
    return n;
}

std::string error_of(std::string_view text) {
    try {
        parse_baseline(text, "base.json");
    } catch (const BaselineError& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST(Baseline, AcceptsWhatWasRecordedAfterTheFileIsEditedAroundIt) {
    const std::vector<FileFindings> recorded = run_of(sample());
    const Baseline baseline = parse_baseline(baseline_text(recorded), "base.json");
    EXPECT_EQ(count(new_findings(recorded, baseline)), 0u);

    // Edited: a polygon added in front, a new reported polygon, a recorded one moved.
    std::vector<TestObject> edited = sample();
    TestObject walls("walls");
    walls.add(square(), false);
    walls.add(raised(0.7), true);  // new
    for (std::size_t k = 0; k + 1 < edited[0].offsets.size(); ++k) {
        std::vector<std::array<double, 3>> corners = edited[0].corners(k);
        if (k == 1) corners[2][2] = 1.5;  // the raised square raised further: a different polygon
        walls.add(corners, std::count(edited[0].reported.begin(), edited[0].reported.end(), k) > 0);
    }
    edited[0] = walls;
    const std::vector<FileFindings> fresh = new_findings(run_of(edited), baseline);
    ASSERT_EQ(fresh.size(), 1u);
    std::vector<std::pair<std::uint32_t, Rule>> left;
    for (const Finding& f : fresh[0].findings) left.emplace_back(f.polygon, f.rule);
    // The new raised square (TV001 and TV003) and the changed one (TV001 and TV003); nothing else.
    EXPECT_EQ(left,
              (std::vector<std::pair<std::uint32_t, Rule>>{
                  {1, Rule::non_planar}, {1, Rule::out_of_plane}, {3, Rule::non_planar}, {3, Rule::out_of_plane}}));
}

TEST(Baseline, EachEntryAcceptsOneFinding) {
    TestObject twice("o");
    twice.add(raised(1), true);
    twice.add(raised(1), true);  // the same polygon again: the same fingerprint
    const std::vector<FileFindings> both = run_of({twice});
    ASSERT_EQ(both[0].findings[0].fingerprint, both[0].findings[2].fingerprint);
    TestObject once("o");
    once.add(raised(1), true);
    const Baseline baseline = parse_baseline(baseline_text(run_of({once})), "base.json");
    const std::vector<FileFindings> fresh = new_findings(both, baseline);
    ASSERT_EQ(fresh[0].findings.size(), 2u);  // the second copy's TV001 and TV003
    EXPECT_EQ(fresh[0].findings[0].polygon, 1u);
    EXPECT_EQ(parse_baseline(baseline_text({}), "base.json").fingerprints.size(), 0u);
}

TEST(Baseline, ABadFileIsNamedWithTheLine) {
    EXPECT_EQ(error_of("{\"torvel_baseline\": 1,\n \"findings\": [\n  {\"fingerprint\": 12}]}")
                  .rfind("base.json: finding 0: no \"fingerprint\" of 16 lowercase hex digits", 0),
              0u);
    EXPECT_EQ(error_of("{\"torvel_baseline\": 1,\n \"findings\": [,]}").rfind("base.json:2: not JSON: ", 0), 0u)
        << error_of("{\"torvel_baseline\": 1,\n \"findings\": [,]}");
    EXPECT_EQ(error_of("{\"findings\": []}"),
              "base.json: not a torvel baseline (no \"torvel_baseline\" and \"findings\")");
    EXPECT_EQ(error_of("{\"torvel_baseline\": 2, \"findings\": []}"),
              "base.json: baseline version 2 (this torvel reads version 1)");
    EXPECT_EQ(error_of("{\"torvel_baseline\": 1, \"findings\": {}}"), "base.json: \"findings\" is not an array");
    EXPECT_THROW(load_baseline("/nonexistent/base.json"), BaselineError);
}
