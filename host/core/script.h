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

#include "errors.h"

namespace torvel::host {

class Log;
using torvel::ScriptError;

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
    // "Command: argument N what", for a command that finds argument i (0-based) unusable.
    ScriptError argument_error(std::size_t i, const std::string& what) const;

private:
    const ScriptLine& line_;
};

// A registered command. It reports failure by throwing: a ScriptError whose message starts with the
// command's name ("SetValue: ..."), or any other exception, whose message the engine puts after the name.
using CommandFn = std::function<void(const ScriptArgs&)>;

// The commands a script can call. A table may sit on top of another one (a program's own commands on
// top of the host's): names it does not have are looked up there. The lower table must outlive it.
class CommandRegistry {
public:
    explicit CommandRegistry(const CommandRegistry* below = nullptr) : below_(below) {}
    // Names are matched without regard to ASCII case, as VBScript does. A later add replaces.
    void add(std::wstring name, CommandFn fn);
    const CommandFn* find(std::wstring_view name) const;

private:
    std::map<std::wstring, CommandFn> commands_;  // keyed by lower-case name
    const CommandRegistry* below_;
};

struct ScriptResult {
    bool ok = true;
    int line = 0;          // 1-based failing line; 0 when ok or when the script failed as a whole
    std::wstring message;  // the error, without the line: "unknown command \"Foo\""
};

// Runs every line of `code` with `commands`, in order, and stops at the first failure, which is also
// logged at siErrorMsg as "ERROR : line N: message". `language` must be "VBScript" (any case).
ScriptResult run_script(const CommandRegistry& commands, Log& log, std::wstring_view code,
                        std::wstring_view language = L"VBScript");

}  // namespace torvel::host
