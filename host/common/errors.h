// The errors the host core, the mesh readers and the program throw, in one place. what() is the whole
// message as the user sees it (it names what is at fault); the fields carry the same facts for code
// that needs them without parsing the text. The program maps them to exit codes (app/main.cpp).
//
// Every error has a code from one catalogue (ErrorCode, kErrors): a stable identifier for programs that
// read torvel's JSON ("code" of each entry in "errors"), a severity and the form of its message. Each
// exception type has a default code; where the cause is known more precisely, the thrower sets it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace torvel {

// The order is that of kErrors; a code's identifier never changes once published.
enum class ErrorCode : std::uint8_t {
    usage,
    not_found,
    unreadable,
    is_folder,
    empty_file,
    file_changed,
    parse,
    unknown_format,
    encoding,
    import_failed,
    import_crashed,
    import_timeout,
    import_memory,
    worker_crashed,
    empty_folder,
    output_refused,
    write_failed,
    plugin_load,
    plugin_filter,
    script,
    out_of_memory,
    internal,
};

// fatal: the run stops there (nothing more is checked); error: only the input or output at fault is
// lost, the run goes on with the others (its exit code is still 2).
enum class Severity : std::uint8_t { fatal, error };

struct ErrorInfo {
    ErrorCode code;
    std::string_view id;  // "TV-E-PARSE": JSON's "code"
    Severity severity;
    std::string_view message;  // the form of the message; {PATH}, {LINE} and the like are filled in
};

inline constexpr std::array kErrors = {
    ErrorInfo{ErrorCode::usage, "TV-E-USAGE", Severity::fatal,
              "{OPTION}: {WHAT IS WRONG} (then: Run 'torvel SUBCOMMAND --help' for usage.)"},
    ErrorInfo{ErrorCode::not_found, "TV-E-NOT-FOUND", Severity::error,
              "{PATH}: cannot open: No such file or directory"},
    ErrorInfo{ErrorCode::unreadable, "TV-E-UNREADABLE", Severity::error,
              "{PATH}: cannot open: {REASON} | {PATH}: is not a regular file | {FOLDER}: cannot read the folder: "
              "{REASON}"},
    ErrorInfo{ErrorCode::is_folder, "TV-E-FOLDER", Severity::error, "{PATH}: is a folder"},
    ErrorInfo{ErrorCode::empty_file, "TV-E-EMPTY-FILE", Severity::error, "{PATH}: the file is empty"},
    ErrorInfo{ErrorCode::file_changed, "TV-E-CHANGED", Severity::error,
              "{PATH}: the file was cut short while it was being read"},
    ErrorInfo{ErrorCode::parse, "TV-E-PARSE", Severity::error, "{PATH}:{LINE}: {WHAT IS WRONG}"},
    ErrorInfo{ErrorCode::unknown_format, "TV-E-FORMAT", Severity::error,
              "{PATH}: unknown mesh format \"{EXT}\" (the formats torvel reads are listed by 'torvel check --help')"},
    ErrorInfo{ErrorCode::encoding, "TV-E-ENCODING", Severity::error,
              "{PATH}: the file is UTF-16 ({BYTE ORDER}); save it as UTF-8 or ASCII"},
    ErrorInfo{ErrorCode::import_failed, "TV-E-IMPORT", Severity::error, "{PATH}: {ASSIMP'S MESSAGE}"},
    ErrorInfo{ErrorCode::import_crashed, "TV-E-IMPORT-CRASH", Severity::error,
              "{PATH}: the importer crashed ({SIGNAL})"},
    ErrorInfo{ErrorCode::import_timeout, "TV-E-IMPORT-TIMEOUT", Severity::error,
              "{PATH}: the importer gave up after {SECONDS} s"},
    ErrorInfo{ErrorCode::import_memory, "TV-E-IMPORT-MEMORY", Severity::error,
              "{PATH}: the importer needed more than {MB} MB"},
    ErrorInfo{ErrorCode::worker_crashed, "TV-E-WORKER-CRASH", Severity::error, "{PATH}: the check crashed ({HOW})"},
    ErrorInfo{ErrorCode::empty_folder, "TV-E-EMPTY-FOLDER", Severity::error,
              "{FOLDER}: no mesh file in this folder or below it"},
    ErrorInfo{ErrorCode::output_refused, "TV-E-OUTPUT-REFUSED", Severity::fatal,
              "{OUTPUT}: refusing to overwrite {ROLE} {PATH}"},
    ErrorInfo{ErrorCode::write_failed, "TV-E-WRITE", Severity::error, "{OUTPUT}: {WHAT FAILED}: {REASON}"},
    ErrorInfo{ErrorCode::plugin_load, "TV-E-PLUGIN-LOAD", Severity::fatal, "{LIBRARY}: {WHY IT CANNOT BE LOADED}"},
    ErrorInfo{ErrorCode::plugin_filter, "TV-E-PLUGIN-FILTER", Severity::fatal,
              "{LIBRARY}: registers no filter Vn_TorvelFilter | {LIBRARY}: {CALLBACK FAILURE}"},
    ErrorInfo{ErrorCode::script, "TV-E-SCRIPT", Severity::fatal, "{SCRIPT}:{LINE}: {COMMAND}: {WHAT IS WRONG}"},
    ErrorInfo{ErrorCode::out_of_memory, "TV-E-MEMORY", Severity::error, "{PATH}: not enough memory to check it"},
    ErrorInfo{ErrorCode::internal, "TV-E-INTERNAL", Severity::fatal, "{WHAT FAILED}: {REASON}"},
};

static_assert(kErrors.size() == static_cast<std::size_t>(ErrorCode::internal) + 1);
static_assert([] {
    for (std::size_t i = 0; i < kErrors.size(); ++i)
        if (static_cast<std::size_t>(kErrors[i].code) != i) return false;
    return true;
}());

constexpr const ErrorInfo& error_info(ErrorCode code) { return kErrors[static_cast<std::size_t>(code)]; }
constexpr std::string_view error_id(ErrorCode code) { return error_info(code).id; }

// What every error type below has in common: the message and its code.
class Error : public std::runtime_error {
public:
    Error(const std::string& message, ErrorCode code) : std::runtime_error(message), code_(code) {}
    ErrorCode code() const { return code_; }

private:
    ErrorCode code_;
};

// The code `e` carries, or `fallback` for an exception that is not an Error.
inline ErrorCode code_of(const std::exception& e, ErrorCode fallback) {
    const auto* error = dynamic_cast<const Error*>(&e);
    return error ? error->code() : fallback;
}

// A host operation refused or failed: a bad object, a library that cannot be loaded, a callback that
// threw. `name` is the object, file or callback at fault, when there is one.
class HostError : public Error {
public:
    explicit HostError(const std::string& message, std::string name = {}, ErrorCode code = ErrorCode::internal)
        : Error(message, code), name_(std::move(name)) {}
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

// A script line that cannot be parsed or run. Commands throw it without a line; the engine, which
// knows the line, reports it with one (ScriptResult).
class ScriptError : public Error {
public:
    explicit ScriptError(const std::string& message, int line = 0) : Error(message, ErrorCode::script), line_(line) {}
    int line() const { return line_; }  // 1-based, 0 when not known

private:
    int line_;
};

// A mesh file that cannot be read or written. The message starts with the file (and the line, for
// line-based formats): "PATH:LINE: what is wrong".
class MeshError : public Error {
public:
    explicit MeshError(const std::string& message, std::string file = {}, ErrorCode code = ErrorCode::parse)
        : Error(message, code), file_(std::move(file)) {}
    const std::string& file() const { return file_; }

private:
    std::string file_;
};

// A command line that makes no sense: shown with a hint to --help, exit code 2.
class UsageError : public Error {
public:
    explicit UsageError(const std::string& message) : Error(message, ErrorCode::usage) {}
};

// One input file of a run could not be handled; the other files are still processed.
class FileError : public Error {
public:
    explicit FileError(const std::string& message, std::string file = {}, ErrorCode code = ErrorCode::unreadable)
        : Error(message, code), file_(std::move(file)) {}
    // The message and code of `cause` (a reader's MeshError, the importer's error), without a file.
    explicit FileError(const Error& cause) : Error(cause.what(), cause.code()) {}
    const std::string& file() const { return file_; }

private:
    std::string file_;
};

}  // namespace torvel
