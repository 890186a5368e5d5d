// The errors the host core, the mesh readers and the program throw, in one place. what() is the whole
// message as the user sees it (it names what is at fault); the fields carry the same facts for code
// that needs them without parsing the text. The program maps them to exit codes (app/main.cpp).
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace torvel {

// A host operation refused or failed: a bad object, a library that cannot be loaded, a callback that
// threw. `name` is the object, file or callback at fault, when there is one.
class HostError : public std::runtime_error {
public:
    explicit HostError(const std::string& message, std::string name = {})
        : std::runtime_error(message), name_(std::move(name)) {}
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

// A script line that cannot be parsed or run. Commands throw it without a line; the engine, which
// knows the line, reports it with one (ScriptResult).
class ScriptError : public std::runtime_error {
public:
    explicit ScriptError(const std::string& message, int line = 0) : std::runtime_error(message), line_(line) {}
    int line() const { return line_; }  // 1-based, 0 when not known

private:
    int line_;
};

// A mesh file that cannot be read or written. The message starts with the file (and the line, for
// line-based formats): "PATH:LINE: what is wrong".
class MeshError : public std::runtime_error {
public:
    explicit MeshError(const std::string& message, std::string file = {})
        : std::runtime_error(message), file_(std::move(file)) {}
    const std::string& file() const { return file_; }

private:
    std::string file_;
};

// A command line that makes no sense: shown with a hint to --help, exit code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One input file of a run could not be handled; the other files are still processed.
class FileError : public std::runtime_error {
public:
    explicit FileError(const std::string& message, std::string file = {})
        : std::runtime_error(message), file_(std::move(file)) {}
    const std::string& file() const { return file_; }

private:
    std::string file_;
};

}  // namespace torvel
