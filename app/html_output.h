// torvel check --html REPORT.html: the interactive page of a run, filled in input order as results come.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app.h"

namespace torvel::report {
class HtmlReport;
}

namespace torvel::app {

// Owns the report's OutputFile from before the first file is checked (a clash with a file of the run is
// refused at once) to finish(). Each checked file brings its section of the page (FileReport::html, made
// by the check while it had the mesh, here or in a worker), numbered by its input index.
class HtmlOutput {
public:
    // Throws FileError ("--html PATH: ...") when the report cannot be opened or is another file of
    // `files` (which must outlive this).
    HtmlOutput(const fs::path& path, const RunFiles& files);
    ~HtmlOutput();
    HtmlOutput(const HtmlOutput&) = delete;
    HtmlOutput& operator=(const HtmlOutput&) = delete;

    // A checked file, the entry `index` of the run; nothing here throws.
    void add(const FileReport& report, std::size_t index);
    void add_error(const std::string& path, const std::string& message);
    // Writes the end and publishes the page. Throws FileError naming the report when any write failed.
    void finish();

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
    OutputFile file_;
    std::unique_ptr<report::HtmlReport> page_;
    std::optional<FileError> failed_;  // the first write error
};

}  // namespace torvel::app
