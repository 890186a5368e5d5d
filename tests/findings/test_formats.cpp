// SARIF, JUnit and workflow annotations of one run: read back as their consumers read them (the SARIF
// Multitool's validator, Python's junitparser) and checked field by field.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "findings_test_util.h"
#include "formats.h"

using namespace torvel::findings;
using namespace findtest;
namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

struct SampleRun {
    std::vector<FileFindings> files;
    std::vector<FailedFile> errors;
    Run run(RuleSet fail_on = default_fail_on(true)) const {
        return {files, errors, fail_on, "1.0.0", "/work/project"};
    }
};

SampleRun sample_run() {
    SampleRun s;
    s.files.push_back({"meshes/house.obj", file_findings("meshes/house.obj", inputs(sample()), {45, 0.01})});
    s.files.push_back({"meshes/clean.obj", {}});
    s.files.push_back(
        {"/work/project/a b/100%.obj", file_findings("/work/project/a b/100%.obj", inputs(sample()), {})});
    s.errors.push_back({"broken.obj", "broken.obj:3: expected 3 numbers after 'v'", "TV-E-PARSE"});
    return s;
}

std::string run_command(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    status = ::pclose(pipe);
    return out;
}

fs::path temp_file(const std::string& name, const std::string& text) {
    const fs::path path = fs::temp_directory_path() / ("torvel_findings_" + std::to_string(::getpid()) + "_" + name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

}  // namespace

TEST(Sarif, OneRunWithTheRulesAndAResultPerFinding) {
    const SampleRun s = sample_run();
    const Json log = Json::parse(sarif_text(s.run(RuleSet{Rule::non_planar, Rule::out_of_plane})));
    EXPECT_EQ(log["version"], "2.1.0");
    ASSERT_EQ(log["runs"].size(), 1u);
    const Json& run = log["runs"][0];
    EXPECT_EQ(run["tool"]["driver"]["name"], "torvel");
    EXPECT_EQ(run["tool"]["driver"]["version"], "1.0.0");
    const Json& rules = run["tool"]["driver"]["rules"];
    ASSERT_EQ(rules.size(), 3u);
    EXPECT_EQ(rules[2]["id"], "TV003");
    EXPECT_EQ(rules[2]["name"], "OutOfPlane");
    EXPECT_FALSE(rules[1]["shortDescription"]["text"].get<std::string>().empty());
    EXPECT_EQ(rules[0]["defaultConfiguration"]["level"], "error");

    const Json& results = run["results"];
    ASSERT_EQ(results.size(), s.files[0].findings.size() + s.files[2].findings.size());
    const Json& first = results[0];  // polygon 1 of walls, TV001, line 11
    EXPECT_EQ(first["ruleId"], "TV001");
    EXPECT_EQ(rules[first["ruleIndex"].get<int>()]["id"], first["ruleId"]);
    EXPECT_EQ(first["level"], "error");
    EXPECT_EQ(first["message"]["text"], s.files[0].findings[0].message);
    const Json& location = first["locations"][0];
    EXPECT_EQ(location["physicalLocation"]["artifactLocation"]["uri"], "meshes/house.obj");
    EXPECT_EQ(location["physicalLocation"]["region"]["startLine"], 11);
    EXPECT_EQ(location["logicalLocations"][0]["name"], "walls");
    EXPECT_EQ(location["logicalLocations"][1]["fullyQualifiedName"], "walls/polygon 1");
    EXPECT_EQ(first["partialFingerprints"]["torvelPolygon/v1"], s.files[0].findings[0].fingerprint);
    // A rule the run does not fail on: a warning. The roof has no lines: no region.
    std::size_t warnings = 0, regions = 0;
    for (const Json& r : results) {
        warnings += r["level"] == "warning";
        EXPECT_EQ(r["level"] == "warning", r["ruleId"] == "TV002") << r.dump();
        regions += r["locations"][0]["physicalLocation"].contains("region");
    }
    EXPECT_EQ(warnings, 6u);
    EXPECT_EQ(regions, 7u + 4u);  // the walls' findings: 7 in the first file, 4 in the third
    // An absolute path in the working folder becomes relative, percent-encoded.
    EXPECT_EQ(results.back()["locations"][0]["physicalLocation"]["artifactLocation"]["uri"], "a%20b/100%25.obj");
    // The file that could not be checked.
    EXPECT_FALSE(run["invocations"][0]["executionSuccessful"]);
    const Json& note = run["invocations"][0]["toolExecutionNotifications"][0];
    EXPECT_EQ(note["level"], "error");
    EXPECT_EQ(note["descriptor"]["id"], "TV-E-PARSE");
    EXPECT_EQ(note["locations"][0]["physicalLocation"]["artifactLocation"]["uri"], "broken.obj");
}

TEST(Sarif, ArtifactUrisAreRelativeInsideTheWorkingFolderAndFileUrisOutside) {
    EXPECT_EQ(artifact_uri("m/./x.obj", "/w"), "m/x.obj");
    EXPECT_EQ(artifact_uri("/w/sub/x.obj", "/w"), "sub/x.obj");
    EXPECT_EQ(artifact_uri("/other/x y.obj", "/w"), "file:///other/x%20y.obj");
    EXPECT_EQ(artifact_uri("../up.obj", "/w/in"), "file:///w/up.obj");
    EXPECT_EQ(artifact_uri("caf\xc3\xa9#1.obj", "/w"), "caf%C3%A9%231.obj");
}

#ifndef TORVEL_SARIF_MULTITOOL
#define TORVEL_SARIF_MULTITOOL ""
#endif

TEST(Sarif, TheMultitoolValidatesItWithNoErrorAndOnlyTheKnownWarning) {
    const std::string tool = TORVEL_SARIF_MULTITOOL;
    if (tool.empty() || !fs::exists(tool) || std::system("node --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "the SARIF Multitool is not installed (scripts/setup installs it with npm into "
                        "build/tools/sarif; node is needed)";
    const SampleRun s = sample_run();
    const fs::path sarif = temp_file("run.sarif", sarif_text(s.run()));
    const fs::path result = fs::path(sarif).replace_extension(".validation.sarif");
    fs::remove(result);
    int status = -1;
    const std::string output =
        run_command("'" + tool + "' validate '" + sarif.string() + "' -o '" + result.string() + "' 2>&1", status);
    ASSERT_TRUE(fs::exists(result)) << output;
    std::ifstream in(result);
    const Json validation = Json::parse(in);
    // The two warnings findings/README.md names: SARIF2005 (no informationUri: torvel has no web page to
    // point to) and SARIF2017 (no region) for exactly the results without a line (the roof's polygons).
    std::size_t missing_regions = 0;
    for (const Json& r : validation["runs"][0].value("results", Json::array())) {
        const std::string level = r.value("level", "warning");
        if (level == "note" || level == "none") continue;
        EXPECT_NE(level, "error") << r.dump();
        missing_regions += r["ruleId"] == "SARIF2017";
        EXPECT_TRUE(r["ruleId"] == "SARIF2005" || r["ruleId"] == "SARIF2017") << r.dump();
    }
    EXPECT_EQ(missing_regions, 2u + 1u);  // the roof's TV001 and TV003 in the first file, its TV001 in the third
    EXPECT_EQ(output.find(": error "), std::string::npos) << output;
    fs::remove(sarif);
    fs::remove(result);
}

TEST(JUnit, OneSuiteOneCasePerFileAsJunitparserReadsIt) {
    const SampleRun s = sample_run();
    const std::string xml = junit_text(s.run(RuleSet{Rule::non_planar}));
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u);
    if (std::system("/usr/bin/python3 -c 'import junitparser' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3-junitparser is not installed (scripts/setup installs it)";
    const fs::path file = temp_file("run.xml", xml);
    const fs::path script = temp_file("read.py", R"(import sys
from junitparser import JUnitXml, Failure, Error
xml = JUnitXml.fromfile(sys.argv[1])
for suite in xml:
    print("suite", suite.name, suite.tests, suite.failures, suite.errors)
    for case in suite:
        kinds = [type(r).__name__ + ":" + (r.type or "") for r in case.result]
        print("case", case.name, ",".join(kinds), (case.system_out or "").count("\n"))
)");
    int status = -1;
    const std::string read = run_command("/usr/bin/python3 '" + script.string() + "' '" + file.string() + "'", status);
    EXPECT_EQ(status, 0) << read;
    // The house fails on its two TV001 (and lists TV002/TV003 aside); the third file's TV001 too.
    EXPECT_EQ(read,
              "suite torvel check 4 2 1\n"
              "case meshes/house.obj Failure:TV001 7\n"
              "case meshes/clean.obj  0\n"
              "case /work/project/a b/100%.obj Failure:TV001 3\n"
              "case broken.obj Error:TV-E-PARSE 0\n");
    fs::remove(file);
    fs::remove(script);
}

TEST(JUnit, TextXmlCannotHoldIsReplacedAndMarkupEscaped) {
    std::vector<FileFindings> files{{"a<b>&\"c\x01\xff.obj", {}}};
    Finding f;
    f.path = files[0].path;
    f.message = "line 1\nline 2 <tag>";
    files[0].findings.push_back(f);
    const std::string xml = junit_text({files, {}, RuleSet{Rule::non_planar}, "1.0.0", "/"});
    EXPECT_NE(xml.find("name=\"a&lt;b&gt;&amp;&quot;c\uFFFD\uFFFD.obj\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("line 1&#10;line 2 &lt;tag&gt;"), std::string::npos) << xml;
}

TEST(GitHub, OneCommandPerFindingWithItsValuesEscaped) {
    const SampleRun s = sample_run();
    std::istringstream lines(github_text(s.run()));
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line);
    ASSERT_EQ(all.size(), s.files[0].findings.size() + s.files[2].findings.size() + 1);
    EXPECT_EQ(all[0],
              "::error file=meshes/house.obj,line=11,title=TV001 non-planar::" + s.files[0].findings[0].message);
    EXPECT_EQ(all.back(), "::error file=broken.obj,title=TV-E-PARSE::broken.obj:3: expected 3 numbers after 'v'");
    // The roof's polygons have no line; a path with % keeps it escaped.
    EXPECT_EQ(all[s.files[0].findings.size()].rfind("::error file=a b/100%25.obj,line=11,title=TV001 non-planar::", 0),
              0u);
    const std::string roof = all[s.files[0].findings.size() - 1];
    EXPECT_EQ(roof.rfind("::error file=meshes/house.obj,title=TV003 out-of-plane::", 0), 0u) << roof;
    // Outside fail_on: warnings. Line breaks, commas and colons escaped where they would end a value.
    const std::string warned = github_text(s.run(RuleSet{}));
    EXPECT_EQ(warned.find("::error file=meshes"), std::string::npos);
    std::vector<FileFindings> odd{{"x,y:z.obj", {}}};
    Finding f;
    f.path = odd[0].path;
    f.message = "a\nb: 100%, c";
    f.line = 3;
    odd[0].findings.push_back(f);
    EXPECT_EQ(github_text({odd, {}, RuleSet{Rule::non_planar}, "1", "/"}),
              "::error file=x%2Cy%3Az.obj,line=3,title=TV001 non-planar::a%0Ab: 100%25, c\n");
}
