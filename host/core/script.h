// The script engine: host command lines of the form `Command arg, arg, ...`, as run by
// Application::ExecuteScriptCode(code, "VBScript") and by the program's `script` command.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include <xsi_decl.h>

namespace torvel::host {

class Host;

// A parsed argument: a double-quoted string, a number, or a bare identifier (a named constant such as
// siDefaultPropagation, or True/False), resolved by the command that takes it.
struct ScriptArg {
    enum class Kind { string, number, identifier } kind = Kind::string;
    std::wstring text;  // string contents (quotes removed, "" unescaped) or the identifier
    double number = 0;  // Kind::number
};

struct ScriptLine {
    std::wstring command;
    std::vector<ScriptArg> args;
};

// A line that cannot be parsed or run. `what()` is the message without the line number.
class ScriptError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses one command line; std::nullopt for a blank line or a comment (starting with ').
// Throws ScriptError for a malformed line (unterminated string, stray characters, missing argument).
std::optional<ScriptLine> parse_script_line(std::wstring_view line);

// Typed access to a command's arguments; each accessor throws ScriptError naming the command and the
// argument's position when the argument is missing or of the wrong kind.
class ScriptArgs {
public:
    ScriptArgs(const ScriptLine& line) : line_(line) {}
    std::size_t size() const { return line_.args.size(); }
    const std::wstring& command() const { return line_.command; }
    const std::wstring& string(std::size_t i) const;
    double number(std::size_t i) const;
    // A number or a named constant (siDefaultPropagation, True, False, ...).
    XSI::LONG integer(std::size_t i) const;
    // `min`..`max` arguments or ScriptError.
    void expect_count(std::size_t min, std::size_t max) const;
    const ScriptArg& raw(std::size_t i) const;

private:
    const ScriptLine& line_;
};

// A registered command. It reports failure by throwing (ScriptError or HostError).
using CommandFn = std::function<void(Host&, const ScriptArgs&)>;

class CommandRegistry {
public:
    // Names are matched without regard to case, as VBScript does.
    void add(std::wstring name, CommandFn fn);
    const CommandFn* find(std::wstring_view name) const;

private:
    std::map<std::wstring, CommandFn> commands_;  // keyed by lower-case name
};

struct ScriptResult {
    bool ok = true;
    std::wstring message;  // the error, with its line: "line 3: unknown command \"Foo\""
    int line = 0;          // 1-based failing line, 0 when ok
};

// Runs every line of `code` in order and stops at the first failure, which is also logged at
// siErrorMsg. `language` must be "VBScript" (any case).
ScriptResult run_script(Host& host, std::wstring_view code, std::wstring_view language = L"VBScript");

// Registers SIAddProp and SetSelFilter (and any other commands the core itself provides).
void register_core_commands(CommandRegistry& registry);

}  // namespace torvel::host
