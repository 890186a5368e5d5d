#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

LogSink::LogSink(host::Log& log, Options options) : log_(log), options_(std::move(options)) {
    if (options_.file) {
        const fs::path& file = *options_.file;
        std::error_code ec;
        if (file.empty()) throw UsageError("--log: the file name is empty");
        if (fs::is_directory(file, ec)) throw UsageError("--log " + file.string() + ": is a folder");
        const fs::path dir = file.parent_path().empty() ? fs::path(".") : file.parent_path();
        if (!fs::is_directory(dir, ec))
            throw UsageError("--log " + file.string() + ": no such directory " + dir.string());
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

void LogSink::protect(const fs::path& input) {
    if (options_.file && same_file(*options_.file, input))
        throw std::runtime_error("--log " + options_.file->string() + ": refusing to overwrite the input " +
                                 input.string());
    protected_.push_back(input);
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
    std::cout.flush();
    if (!options_.file) return;
    const fs::path& file = *options_.file;
    const std::string name = file.string();
    for (const fs::path& input : protected_)  // an input may have been moved to the log's name meanwhile
        if (same_file(file, input))
            throw std::runtime_error("--log " + name + ": refusing to overwrite the input " + input.string());

    std::string text;
    for (const host::LogEntry& e : log_.entries()) {
        nlohmann::ordered_json line{{"severity", static_cast<int>(e.severity)}, {"text", to_utf8(e.text)}};
        text += line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        text += '\n';
    }

    // A temporary beside the target, renamed over it: an existing log is replaced whole or not at all.
    const fs::path dir = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    std::string tmp = (dir / ("." + file.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) throw std::runtime_error("--log " + name + ": cannot create a temporary file: " + std::strerror(errno));
    // mkstemp makes the file private; a log is an ordinary file, so let the umask decide as usual.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    (void)::fchmod(fd, 0666 & ~mask);
    const char* p = text.data();
    std::size_t left = text.size();
    int err = 0;
    while (left > 0 && err == 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno != EINTR) err = errno;
        if (n > 0) {
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(tmp.c_str(), file.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(tmp.c_str());
        throw std::runtime_error("--log " + name + ": cannot write: " + std::strerror(err));
    }
}

}  // namespace torvel::app
