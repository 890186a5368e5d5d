// torvel check --html REPORT.html: the interactive page of a run, filled in input order as results come.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app.h"
#include "importer.h"
#include "report.h"

namespace torvel::report {
class HtmlReport;
}

namespace torvel::app {

// Owns the report's OutputFile from before the first file is checked (a clash with a file of the run is
// refused at once) to finish(). Each checked file is read again here, in the process that writes the
// report, whether it was checked here or by a worker: the report shows the mesh as the file holds it (its
// objects, as the check reads them), the polygons in the states the filter's verdict gives (reported;
// degenerate when also described as such), and the details and histogram of --details and --histogram.
class HtmlOutput {
public:
    // Throws FileError ("--html PATH: ...") when the report cannot be opened or is another file of
    // `files` (which must outlive this). `limits` bound the imports of files read through Assimp, as the
    // check's own.
    HtmlOutput(const fs::path& path, const RunFiles& files, const importer::Limits& limits);
    ~HtmlOutput();
    HtmlOutput(const HtmlOutput&) = delete;
    HtmlOutput& operator=(const HtmlOutput&) = delete;

    // A checked file. A file that cannot be read again, or no longer matches its result, is listed in the
    // page as an error; nothing here throws.
    void add(const FileResult& result, double tolerance);
    void add_error(const std::string& path, const std::string& message);
    // Writes the end and publishes the page. Throws FileError naming the report when any write failed.
    void finish();

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
    OutputFile file_;
    std::unique_ptr<report::HtmlReport> page_;
    importer::Limits limits_;
    std::optional<FileError> failed_;  // the first write error
};

}  // namespace torvel::app
