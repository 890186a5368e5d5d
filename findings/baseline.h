// Baselines: the findings a project has accepted, recorded by fingerprint, so that a run reports (and
// fails on) only the findings that are new.
//
// A baseline file is JSON: {"torvel_baseline": 1, "findings": [{"fingerprint", "rule", "path", "object",
// "polygon"}]}, one entry per finding in the run's order. Only "fingerprint" is matched; the rest is there
// for people reading the file.
#pragma once

#include <filesystem>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "formats.h"

namespace torvel::findings {

// A baseline file that cannot be read or is not one; the message names the file (and the line).
class BaselineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Accepted findings: how many of each fingerprint (a polygon listed twice in a file is two findings).
struct Baseline {
    std::map<std::string, std::size_t> fingerprints;
};

// The baseline of every finding of `files`, as text (ends in a newline).
std::string baseline_text(std::span<const FileFindings> files);

// Parses a baseline's text; `file` names it in messages. Throws BaselineError.
Baseline parse_baseline(std::string_view text, const std::filesystem::path& file);
Baseline load_baseline(const std::filesystem::path& file);

// The findings not in the baseline, in order. Each baseline entry accepts one finding of its fingerprint
// (the first ones of the run), so that a second copy of an accepted polygon is new.
std::vector<FileFindings> new_findings(std::span<const FileFindings> files, const Baseline& baseline);

}  // namespace torvel::findings
