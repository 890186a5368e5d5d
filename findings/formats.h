// The findings of a run in the formats CI systems read: SARIF 2.1.0, JUnit XML and workflow annotations.
// Each is a view of the same findings; the rules in `fail_on` are the ones the run fails on, and their
// findings are errors in every format (the others warnings).
#pragma once

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "findings.h"

namespace torvel::findings {

// One checked file and its findings (file_findings).
struct FileFindings {
    std::string path;  // as given
    std::vector<Finding> findings;
};

// A file that could not be checked, with torvel's message (it names the file) and error code.
struct FailedFile {
    std::string path;
    std::string message;
    std::string code;  // "TV-E-PARSE"
};

struct Run {
    std::span<const FileFindings> files;  // in the run's order
    std::span<const FailedFile> errors;
    RuleSet fail_on;
    std::string version;                   // torvel's, "1.0.0"
    std::filesystem::path working_folder;  // absolute: artifact paths are written relative to it
};

// The path as a URI reference relative to `working_folder` (forward slashes, percent-encoded) when it lies
// in it; else an absolute file: URI. `path` relative: taken as relative to the working folder already.
std::string artifact_uri(const std::string& path, const std::filesystem::path& working_folder);

// One SARIF 2.1.0 log with one run: tool.driver torvel with its version and the three rules; one result per
// finding (ruleId, ruleIndex, level, message, a physicalLocation with the file and, where known, the line,
// logicalLocations for the object and the polygon, partialFingerprints); a file that could not be checked
// is a toolExecutionNotification of the invocation, which is then not successful. Compact JSON text.
std::string sarif_text(const Run& run);

// <testsuites> holding one <testsuite> "torvel check"; one <testcase> per file (checked or not, in the
// run's order: checked files, then the errors); a <failure> listing every finding of a file that has
// findings of a fail_on rule, the findings of other rules in <system-out>; an <error> per file that could
// not be checked. UTF-8; characters XML cannot hold are written as U+FFFD.
std::string junit_text(const Run& run);

// Workflow commands, one line per finding ("::error file=PATH,line=L,title=TV001 non-planar::MESSAGE"),
// ::warning for rules outside fail_on, and one ::error line per file that could not be checked.
std::string github_text(const Run& run);

}  // namespace torvel::findings
