#include "script.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include "log.h"
#include "text.h"

namespace torvel::host {

namespace {

bool is_space(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\f' || c == L'\v'; }
bool is_digit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool is_ident_start(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_'; }
bool is_ident_char(wchar_t c) { return is_ident_start(c) || is_digit(c); }

std::string narrow(std::wstring_view s) { return to_utf8(s); }

// A character as it should appear in an error message.
std::string show(wchar_t c) {
    if (c == L'\t') return "tab";
    if (c < 0x20 || c == 0x7f) return "control character " + std::to_string(static_cast<unsigned>(c));
    return "'" + narrow(std::wstring_view(&c, 1)) + "'";
}

std::string column(std::size_t pos) { return "column " + std::to_string(pos + 1); }

class LineParser {
public:
    explicit LineParser(std::wstring_view line) : s_(line) {}

    std::optional<ScriptLine> parse() {
        skip_spaces();
        if (at_end() || peek() == L'\'') return std::nullopt;
        if (!is_ident_start(peek()))
            throw ScriptError("expected a command name at " + column(pos_) + ", found " + show(peek()));

        ScriptLine line;
        std::size_t start = pos_;
        while (!at_end() && is_ident_char(peek())) ++pos_;
        line.command.assign(s_.substr(start, pos_ - start));
        const std::string cmd = narrow(line.command);

        bool parens = false;
        if (!at_end() && peek() == L'(') {
            parens = true;
            ++pos_;
        } else if (!at_end() && !is_space(peek()) && peek() != L'\'') {
            throw ScriptError(cmd + ": unexpected " + show(peek()) + " after the command name at " + column(pos_));
        }

        skip_spaces();
        if (parens && !at_end() && peek() == L')') {
            ++pos_;
            expect_line_end(cmd);
            return line;
        }
        if (!parens && at_comment_or_end()) return line;

        for (;;) {
            skip_spaces();
            const std::size_t n = line.args.size() + 1;
            if (at_comment_or_end() || peek() == L',' || (parens && peek() == L')'))
                throw ScriptError(cmd + ": argument " + std::to_string(n) + " is empty (at " + column(pos_) + ")");
            line.args.push_back(parse_arg(cmd, n));
            skip_spaces();
            if (!at_end() && peek() == L',') {
                ++pos_;
                continue;
            }
            if (parens) {
                if (at_end() || peek() != L')')
                    throw ScriptError(cmd + ": expected ',' or ')' after argument " + std::to_string(n) + " at " +
                                      column(pos_));
                ++pos_;
                expect_line_end(cmd);
                return line;
            }
            if (at_comment_or_end()) return line;
            const char* after = line.args.back().kind == ScriptArg::Kind::string ? "string " : "";
            throw ScriptError(cmd + ": stray " + show(peek()) + " after " + after + "argument " + std::to_string(n) +
                              " at " + column(pos_));
        }
    }

private:
    bool at_end() const { return pos_ >= s_.size(); }
    wchar_t peek() const { return s_[pos_]; }
    bool at_comment_or_end() const { return at_end() || peek() == L'\''; }
    void skip_spaces() {
        while (!at_end() && is_space(peek())) ++pos_;
    }
    void expect_line_end(const std::string& cmd) {
        skip_spaces();
        if (!at_comment_or_end()) throw ScriptError(cmd + ": stray " + show(peek()) + " after ')' at " + column(pos_));
    }

    ScriptArg parse_arg(const std::string& cmd, std::size_t n) {
        const wchar_t c = peek();
        if (c == L'"') return parse_string(cmd, n);
        if (is_digit(c) || c == L'+' || c == L'-' || c == L'.') return parse_number(cmd, n);
        if (is_ident_start(c)) {
            ScriptArg arg;
            arg.kind = ScriptArg::Kind::identifier;
            std::size_t start = pos_;
            while (!at_end() && is_ident_char(peek())) ++pos_;
            arg.text.assign(s_.substr(start, pos_ - start));
            return arg;
        }
        throw ScriptError(cmd + ": unexpected " + show(c) + " in argument " + std::to_string(n) + " at " +
                          column(pos_));
    }

    ScriptArg parse_string(const std::string& cmd, std::size_t n) {
        ScriptArg arg;
        arg.kind = ScriptArg::Kind::string;
        const std::size_t open = pos_++;
        for (;;) {
            if (at_end())
                throw ScriptError(cmd + ": unterminated string in argument " + std::to_string(n) + " (opened at " +
                                  column(open) + ")");
            wchar_t c = s_[pos_++];
            if (c == L'"') {
                if (!at_end() && peek() == L'"') {
                    arg.text.push_back(L'"');
                    ++pos_;
                    continue;
                }
                return arg;
            }
            arg.text.push_back(c);
        }
    }

    ScriptArg parse_number(const std::string& cmd, std::size_t n) {
        const std::size_t start = pos_;
        std::string text;
        auto take_digits = [&] {
            std::size_t count = 0;
            while (!at_end() && is_digit(peek())) {
                text.push_back(static_cast<char>(peek()));
                ++pos_;
                ++count;
            }
            return count;
        };
        if (peek() == L'+' || peek() == L'-') {
            if (peek() == L'-') text.push_back('-');
            ++pos_;
        }
        std::size_t digits = take_digits();
        if (!at_end() && peek() == L'.') {
            text.push_back('.');
            ++pos_;
            digits += take_digits();
        }
        bool ok = digits > 0;
        if (ok && !at_end() && (peek() == L'e' || peek() == L'E')) {
            text.push_back('e');
            ++pos_;
            if (!at_end() && (peek() == L'+' || peek() == L'-')) {
                text.push_back(static_cast<char>(peek()));
                ++pos_;
            }
            ok = take_digits() > 0;
        }
        // A number must end where the argument ends: "12abc" or "1.2.3" is not a number.
        if (ok && !at_end() && (is_ident_char(peek()) || peek() == L'.' || peek() == L'"')) ok = false;
        if (!ok) {
            std::size_t end = pos_;
            while (end < s_.size() && !is_space(s_[end]) && s_[end] != L',' && s_[end] != L')') ++end;
            throw ScriptError(cmd + ": argument " + std::to_string(n) +
                              " is not a number: " + narrow(s_.substr(start, end - start)));
        }
        ScriptArg arg;
        arg.kind = ScriptArg::Kind::number;
        arg.text.assign(s_.substr(start, pos_ - start));
        const char* first = text.data();
        const char* last = text.data() + text.size();
        auto [ptr, ec] = std::from_chars(first, last, arg.number);
        if (ec == std::errc::result_out_of_range || (ec == std::errc() && !std::isfinite(arg.number)))
            throw ScriptError(cmd + ": argument " + std::to_string(n) + " is out of range: " + narrow(arg.text));
        if (ec != std::errc() || ptr != last)
            throw ScriptError(cmd + ": argument " + std::to_string(n) + " is not a number: " + narrow(arg.text));
        return arg;
    }

    std::wstring_view s_;
    std::size_t pos_ = 0;
};

struct NamedConstant {
    const wchar_t* name;
    XSI::LONG value;
};

constexpr NamedConstant kConstants[] = {
    {L"True", 1},
    {L"False", 0},
    {L"siDefaultPropagation", XSI::siDefaultPropagation},
    {L"siObjectPropagation", XSI::siObjectPropagation},
    {L"siNodePropagation", XSI::siNodePropagation},
    {L"siFatalMsg", XSI::siFatalMsg},
    {L"siErrorMsg", XSI::siErrorMsg},
    {L"siWarningMsg", XSI::siWarningMsg},
    {L"siInfoMsg", XSI::siInfoMsg},
    {L"siVerboseMsg", XSI::siVerboseMsg},
    {L"siCommentMsg", XSI::siCommentMsg},
};

std::string arg_error(const ScriptArgs& args, std::size_t i, const std::string& what) {
    return narrow(args.command()) + ": argument " + std::to_string(i + 1) + " " + what;
}

// Splits on \n; a \r before it belongs to the line break, not to the line.
std::vector<std::wstring_view> split_lines(std::wstring_view code) {
    std::vector<std::wstring_view> lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t nl = code.find(L'\n', start);
        std::wstring_view line =
            code.substr(start, nl == std::wstring_view::npos ? std::wstring_view::npos : nl - start);
        if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::wstring_view::npos) break;
        start = nl + 1;
    }
    return lines;
}

ScriptResult fail(Log& log, int line, const std::wstring& what) {
    log.add(XSI::siErrorMsg, L"ERROR : " + (line > 0 ? L"line " + std::to_wstring(line) + L": " + what : what));
    return ScriptResult{false, line, what};
}

}  // namespace

std::optional<ScriptLine> parse_script_line(std::wstring_view line) { return LineParser(line).parse(); }

ScriptError ScriptArgs::argument_error(std::size_t i, const std::string& what) const {
    return ScriptError(arg_error(*this, i, what));
}

const ScriptArg& ScriptArgs::raw(std::size_t i) const {
    if (i >= line_.args.size()) throw ScriptError(narrow(command()) + ": missing argument " + std::to_string(i + 1));
    return line_.args[i];
}

const std::wstring& ScriptArgs::string(std::size_t i) const {
    const ScriptArg& a = raw(i);
    if (a.kind != ScriptArg::Kind::string) throw ScriptError(arg_error(*this, i, "must be a string"));
    return a.text;
}

double ScriptArgs::number(std::size_t i) const {
    const ScriptArg& a = raw(i);
    if (a.kind != ScriptArg::Kind::number) throw ScriptError(arg_error(*this, i, "must be a number"));
    return a.number;
}

XSI::LONG ScriptArgs::integer(std::size_t i) const {
    const ScriptArg& a = raw(i);
    if (a.kind == ScriptArg::Kind::identifier) {
        for (const NamedConstant& c : kConstants)
            if (iequals(a.text, c.name)) return c.value;
        throw ScriptError(arg_error(*this, i, "is an unknown constant \"" + narrow(a.text) + "\""));
    }
    if (a.kind == ScriptArg::Kind::number) {
        constexpr double lo = std::numeric_limits<XSI::LONG>::min();
        constexpr double hi = std::numeric_limits<XSI::LONG>::max();
        if (a.number == std::floor(a.number) && a.number >= lo && a.number <= hi)
            return static_cast<XSI::LONG>(a.number);
    }
    throw ScriptError(arg_error(*this, i, "must be an integer"));
}

void ScriptArgs::expect_count(std::size_t min, std::size_t max) const {
    const std::size_t n = size();
    if (n >= min && n <= max) return;
    std::string want = min == max ? std::to_string(min) : std::to_string(min) + " to " + std::to_string(max);
    want += max == 1 ? " argument" : " arguments";
    throw ScriptError(narrow(command()) + ": expected " + want + ", got " + std::to_string(n));
}

void CommandRegistry::add(std::wstring name, CommandFn fn) { commands_[ascii_lowered(std::move(name))] = std::move(fn); }

const CommandFn* CommandRegistry::find(std::wstring_view name) const {
    if (auto it = commands_.find(ascii_lowered(std::wstring(name))); it != commands_.end()) return &it->second;
    return below_ ? below_->find(name) : nullptr;
}

ScriptResult run_script(const CommandRegistry& commands, Log& log, std::wstring_view code,
                        std::wstring_view language) {
    if (!iequals(language, L"VBScript"))
        return fail(log, 0, L"unknown script language \"" + std::wstring(language) + L"\"");

    const std::vector<std::wstring_view> lines = split_lines(code);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        // A ScriptError names its command already; anything else a command throws (a HostError from the
        // host, whatever a plug-in throws) is given the command's name here, as every script error has it.
        std::wstring command;
        auto named = [&command](const std::wstring& what) { return command.empty() ? what : command + L": " + what; };
        try {
            std::optional<ScriptLine> line = parse_script_line(lines[i]);
            if (!line) continue;
            const CommandFn* fn = commands.find(line->command);
            if (!fn) return fail(log, number, L"unknown command \"" + line->command + L"\"");
            command = line->command;
            (*fn)(ScriptArgs(*line));
        } catch (const ScriptError& e) {
            return fail(log, number, from_utf8(e.what()));
        } catch (const std::exception& e) {
            return fail(log, number, named(from_utf8(e.what())));
        } catch (...) {
            return fail(log, number, named(L"command failed with an unknown exception"));
        }
    }
    return {};
}

}  // namespace torvel::host
