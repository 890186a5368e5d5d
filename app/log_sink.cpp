// The host log: echoed while the run goes, written as JSON Lines at its end.
#include <iostream>
#include <nlohmann/json.hpp>

#include "app.h"
#include "host.h"

namespace torvel::app {

namespace {

// How -v shows a message's severity; information, the common case, goes unmarked.
const char* severity_prefix(XSI::siSeverityType severity) {
    switch (severity) {
        case XSI::siFatalMsg: return "fatal: ";
        case XSI::siErrorMsg: return "error: ";
        case XSI::siWarningMsg: return "warning: ";
        case XSI::siVerboseMsg: return "verbose: ";
        case XSI::siCommentMsg: return "comment: ";
        default: return "";
    }
}

}  // namespace

LogSink::LogSink(host::Log& log, Options options, RunFiles& files)
    : log_(log), options_(std::move(options)), files_(files) {
    if (options_.file) {
        const fs::path& file = *options_.file;
        std::error_code ec;
        if (file.empty()) throw UsageError("--log: the file name is empty");
        if (fs::is_directory(file, ec)) throw UsageError("--log " + file.string() + ": is a folder");
        const fs::path dir = file.parent_path().empty() ? fs::path(".") : file.parent_path();
        if (!fs::is_directory(dir, ec))
            throw UsageError("--log " + file.string() + ": no such directory " + dir.string());
        files_.add_output(file, role::log, "--log " + file.string());
    }
    if (options_.verbose || options_.to_stdout) {
        const bool to_stderr = options_.verbose;
        log_.set_observer([to_stderr](const host::LogEntry& e) {
            if (to_stderr)
                std::cerr << severity_prefix(e.severity) << to_utf8(e.text) << '\n';
            else
                std::cout << to_utf8(e.text) << '\n';
        });
    }
}

void LogSink::finish_after_error() noexcept {
    try {
        finish();
    } catch (const std::exception& e) {
        std::cerr << "torvel: " << e.what() << '\n';
    }
}

LogSink::~LogSink() { log_.set_observer({}); }

void LogSink::finish() {
    std::cout.flush();  // the log may be this run's own standard output
    // Refused before the run did anything: said once then.
    if (!options_.file || (files_.refused() && files_.refused()->role == role::log)) return;
    const fs::path& file = *options_.file;
    OutputFile out(file, "--log " + file.string(), &files_, role::log);
    for (const host::LogEntry& e : log_.entries()) {
        nlohmann::ordered_json line{{"severity", static_cast<int>(e.severity)}, {"text", to_utf8(e.text)}};
        out.buffer() += line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        out.buffer() += '\n';
        out.maybe_flush();
    }
    out.commit();
}

}  // namespace torvel::app
