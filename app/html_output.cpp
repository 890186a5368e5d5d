#include "html_output.h"

#include "html_report.h"

namespace torvel::app {

HtmlOutput::HtmlOutput(const fs::path& path, const RunFiles& files)
    : path_(path), file_(path, "--html " + path.string(), &files, role::report) {
    page_ = std::make_unique<report::HtmlReport>([this](std::string_view bytes) { file_.write(bytes); });
}

HtmlOutput::~HtmlOutput() = default;

void HtmlOutput::add(const FileReport& report, std::size_t index) {
    if (failed_) return;
    try {
        page_->add_section(report.html, report.path, report.non_planar.size(), index);
    } catch (const FileError& e) {
        // A write of the report itself failed: the page is lost, the run goes on.
        failed_ = e;
    }
}

void HtmlOutput::add_error(const std::string& path, const std::string& message) {
    if (!failed_) page_->add_error(path, message);
}

void HtmlOutput::finish() {
    if (!failed_) {
        try {
            page_->finish();
            file_.commit();
            return;
        } catch (const FileError& e) {
            failed_ = e;
        }
    }
    throw *failed_;
}

}  // namespace torvel::app
