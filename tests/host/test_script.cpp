// Script engine: line parsing, typed arguments, command lookup and run_script's failure reporting.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include <xsi_application.h>

#include "fresh_host.h"
#include "script.h"
#include "test_support.h"
#include "text.h"

using namespace torvel::host;
using torvel::test::host;
using Kind = ScriptArg::Kind;

namespace {

ScriptLine parse(std::wstring_view text) {
    auto line = parse_script_line(text);
    EXPECT_TRUE(line.has_value()) << torvel::to_utf8(text);
    return line.value_or(ScriptLine{});
}

// The ScriptError message for a line, or "" when it parses.
std::string parse_error(std::wstring_view text) {
    return torvel::test::thrown_message<ScriptError>([&] { parse_script_line(text); });
}

template <class F>
std::string error_of(F f) {
    return torvel::test::thrown_message<ScriptError>(f);
}

class RunScript : public ::testing::Test {
protected:
    const std::vector<LogEntry>& log() { return host().log().entries(); }
    static ScriptResult run(std::wstring_view code, std::wstring_view language = L"VBScript") {
        return run_script(host().commands(), host().log(), code, language);
    }
};

}  // namespace

TEST(ParseScriptLine, ThePlugInsLinesParseToTheirArguments) {
    ScriptLine add = parse(LR"(SIAddProp "Vn_TorvelFilter_Prop","Scene_Root" , siDefaultPropagation)");
    EXPECT_EQ(add.command, L"SIAddProp");
    ASSERT_EQ(add.args.size(), 3u);
    EXPECT_EQ(add.args[0].kind, Kind::string);
    EXPECT_EQ(add.args[0].text, L"Vn_TorvelFilter_Prop");
    EXPECT_EQ(add.args[1].kind, Kind::string);
    EXPECT_EQ(add.args[1].text, L"Scene_Root");
    EXPECT_EQ(add.args[2].kind, Kind::identifier);
    EXPECT_EQ(add.args[2].text, L"siDefaultPropagation");

    ScriptLine sel = parse(LR"(SetSelFilter "PolygonMesh")");
    EXPECT_EQ(sel.command, L"SetSelFilter");
    ASSERT_EQ(sel.args.size(), 1u);
    EXPECT_EQ(sel.args[0].text, L"PolygonMesh");
}

TEST(ParseScriptLine, SpacingQuotesCommentsAndCallForm) {
    ScriptLine spaced = parse(L"\t Cmd   \"a\"\t,\"b\"  ,  c  ");
    ASSERT_EQ(spaced.args.size(), 3u);
    EXPECT_EQ(spaced.args[2].text, L"c");

    ScriptLine quotes = parse(LR"(Cmd "say ""hi""", "", "it's")");
    ASSERT_EQ(quotes.args.size(), 3u);
    EXPECT_EQ(quotes.args[0].text, L"say \"hi\"");
    EXPECT_EQ(quotes.args[1].text, L"");
    EXPECT_EQ(quotes.args[2].text, L"it's");  // a quote inside a string starts no comment

    EXPECT_EQ(parse(LR"(Cmd "a" ' the rest is a comment, "x")").args.size(), 1u);
    EXPECT_TRUE(parse(L"Cmd").args.empty());
    EXPECT_TRUE(parse(L"Cmd 'comment").args.empty());

    ScriptLine call = parse(LR"(Cmd("a", 2) ' call form)");
    ASSERT_EQ(call.args.size(), 2u);
    EXPECT_EQ(call.args[1].number, 2);
    EXPECT_TRUE(parse(L"Cmd()").args.empty());

    for (const wchar_t* blank : {L"", L"   \t", L"' comment", L"   ' indented comment", L"\r"})
        EXPECT_FALSE(parse_script_line(blank).has_value()) << torvel::to_utf8(blank);
}

TEST(ParseScriptLine, NumbersAreExact) {
    ScriptLine n = parse(L"Cmd 42, -3.5, +1e3, .5, 2.5E-2, 0.1, -0");
    ASSERT_EQ(n.args.size(), 7u);
    const double expected[] = {42, -3.5, 1000, 0.5, 0.025, 0.1, -0.0};
    for (std::size_t i = 0; i < n.args.size(); ++i) {
        EXPECT_EQ(n.args[i].kind, Kind::number) << i;
        EXPECT_EQ(n.args[i].number, expected[i]) << i;  // bit-exact, as from_chars gives it
    }
    EXPECT_TRUE(std::signbit(n.args[6].number));
    EXPECT_EQ(n.args[1].text, L"-3.5");
}

TEST(ParseScriptLine, MalformedLinesNameTheFault) {
    struct Case {
        const wchar_t* line;
        const char* message;
    };
    const Case cases[] = {
        {LR"(Cmd "abc)", "Cmd: unterminated string in argument 1 (opened at column 5)"},
        {LR"(Cmd "a"")", "Cmd: unterminated string in argument 1"},
        {L"Cmd a,,b", "Cmd: argument 2 is empty"},
        {L"Cmd a,", "Cmd: argument 2 is empty"},
        {LR"(Cmd "a"b)", "Cmd: stray 'b' after string argument 1 at column 8"},
        {LR"(Cmd "a" "b")", "Cmd: stray '\"' after string argument 1"},
        {L"Cmd a b", "Cmd: stray 'b' after argument 1"},
        {LR"(Cmd("a")", "Cmd: expected ',' or ')' after argument 1"},
        {LR"(Cmd("a") x)", "Cmd: stray 'x' after ')'"},
        {L"Cmd 12abc", "Cmd: argument 1 is not a number: 12abc"},
        {L"Cmd 1.2.3", "Cmd: argument 1 is not a number: 1.2.3"},
        {L"Cmd -", "Cmd: argument 1 is not a number: -"},
        {L"Cmd 1e999", "Cmd: argument 1 is out of range: 1e999"},
        {L"Cmd =1", "Cmd: unexpected '=' in argument 1"},
        {L"Cmd-x", "Cmd: unexpected '-' after the command name"},
        {LR"("Cmd")", "expected a command name at column 1, found '\"'"},
        {L"  1 + 2", "expected a command name at column 3, found '1'"},
    };
    for (const Case& c : cases) {
        const std::string got = parse_error(c.line);
        EXPECT_NE(got.find(c.message), std::string::npos) << torvel::to_utf8(c.line) << "\n  got: " << got;
    }
}

TEST(ScriptArgs, TypedAccessNamesCommandAndPosition) {
    const ScriptLine line = parse(LR"(Foo "text", 7, 2.5, siNodePropagation, TRUE, false, siWarningMsg, Bogus)");
    const ScriptArgs args(line);
    EXPECT_EQ(args.string(0), L"text");
    EXPECT_EQ(args.number(1), 7);
    EXPECT_EQ(args.integer(1), 7);
    EXPECT_EQ(args.integer(3), XSI::siNodePropagation);
    EXPECT_EQ(args.integer(4), 1);
    EXPECT_EQ(args.integer(5), 0);
    EXPECT_EQ(args.integer(6), XSI::siWarningMsg);

    EXPECT_EQ(error_of([&] { args.string(1); }), "Foo: argument 2 must be a string");
    EXPECT_EQ(error_of([&] { args.number(0); }), "Foo: argument 1 must be a number");
    EXPECT_EQ(error_of([&] { args.integer(2); }), "Foo: argument 3 must be an integer");
    EXPECT_EQ(error_of([&] { args.integer(0); }), "Foo: argument 1 must be an integer");
    EXPECT_EQ(error_of([&] { args.integer(7); }), "Foo: argument 8 is an unknown constant \"Bogus\"");
    EXPECT_EQ(error_of([&] { args.raw(8); }), "Foo: missing argument 9");

    const ScriptLine big = parse(L"Foo 3e9, -2147483648");
    EXPECT_EQ(error_of([&] { ScriptArgs(big).integer(0); }), "Foo: argument 1 must be an integer");
    EXPECT_EQ(ScriptArgs(big).integer(1), -2147483647 - 1);

    EXPECT_EQ(error_of([&] { args.expect_count(1, 1); }), "Foo: expected 1 argument, got 8");
    EXPECT_EQ(error_of([&] { args.expect_count(2, 3); }), "Foo: expected 2 to 3 arguments, got 8");
}

TEST_F(RunScript, RunsEveryLineAndCountsLinesAcrossLineEnds) {
    const ScriptResult r =
        run(L"' set the filter\r\n\r\nsetselfilter \"PolygonMesh\"\nLogMessage \"done\", siWarningMsg\n",
                   L"vbscript");
    EXPECT_TRUE(r.ok) << torvel::to_utf8(r.message);
    EXPECT_EQ(r.line, 0);
    EXPECT_EQ(host().selection_filter(), L"PolygonMesh");
    ASSERT_EQ(log().size(), 1u);
    EXPECT_EQ(log()[0].severity, XSI::siWarningMsg);
    EXPECT_EQ(log()[0].text, L"done");
    EXPECT_TRUE(run(L"").ok);
}

TEST_F(RunScript, StopsAtTheFirstFailureAndLogsItAtErrorSeverity) {
    const ScriptResult r =
        run(L"LogMessage \"one\"\r\n' comment\r\nFrobnicate 1\r\nLogMessage \"never\"");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.line, 3);
    EXPECT_EQ(r.message, L"unknown command \"Frobnicate\"");
    ASSERT_EQ(log().size(), 2u);
    EXPECT_EQ(log()[0].text, L"one");
    EXPECT_EQ(log()[1].severity, XSI::siErrorMsg);
    EXPECT_EQ(log()[1].text, L"ERROR : line 3: unknown command \"Frobnicate\"");
}

TEST_F(RunScript, ReportsEachKindOfFailureWithItsLine) {
    struct Case {
        const wchar_t* code;
        int line;
        const wchar_t* message;
    };
    const Case cases[] = {
        {L"SetSelFilter \"a\", \"b\"", 1, L"line 1: SetSelFilter: expected 1 argument, got 2"},
        {L"SetSelFilter 3", 1, L"line 1: SetSelFilter: argument 1 must be a string"},
        {L"\nSetSelFilter \"x", 2, L"line 2: SetSelFilter: unterminated string in argument 1 (opened at column 14)"},
        {L"SIAddProp \"Kind\", 3", 1, L"line 1: SIAddProp: argument 2 must be a string"},
        {L"SIAddProp \"Kind\", \"Scene_Root\", 7", 1,
         L"line 1: SIAddProp: argument 3 is not a propagation (0, 1 or 2): 7"},
        {L"SIAddProp \"No_Such_Kind\", \"Scene_Root\"", 1,
         L"line 1: SIAddProp: unknown property preset \"No_Such_Kind\""},
        {L"LogMessage \"x\", 3", 1, L"line 1: LogMessage: argument 2 is not a severity: 3"},
    };
    for (const Case& c : cases) {
        host().log().clear();
        const ScriptResult r = run(c.code);
        EXPECT_FALSE(r.ok) << torvel::to_utf8(c.code);
        EXPECT_EQ(r.line, c.line) << torvel::to_utf8(c.code);
        EXPECT_EQ(L"line " + std::to_wstring(r.line) + L": " + r.message, c.message);
        ASSERT_EQ(log().size(), 1u);
        EXPECT_EQ(log()[0].text, L"ERROR : " + std::wstring(c.message));
    }
    EXPECT_EQ(host().selection_filter(), L"");
}

TEST_F(RunScript, ExceptionsFromCommandsBecomeFailures) {
    host().commands().add(L"TestThrowHost",
                          [](const ScriptArgs&) { throw HostError("object \"cube\" is gone"); });
    host().commands().add(L"TestThrowStd", [](const ScriptArgs&) { throw std::out_of_range("index 9"); });
    host().commands().add(L"TestThrowInt", [](const ScriptArgs&) { throw 42; });
    host().commands().add(L"TestThrowScript", [](const ScriptArgs&) { throw ScriptError("TestThrowScript: bad"); });
    // Each gets the command's name as it was written, unless it is a ScriptError, which has it already.
    EXPECT_EQ(run(L"testthrowhost").message, L"testthrowhost: object \"cube\" is gone");
    EXPECT_EQ(run(L"\n\nTestThrowStd").message, L"TestThrowStd: index 9");
    EXPECT_EQ(run(L"TestThrowInt").message, L"TestThrowInt: command failed with an unknown exception");
    EXPECT_EQ(run(L"TestThrowScript").message, L"TestThrowScript: bad");
    EXPECT_EQ(log().size(), 4u);
}

// A program's own table sits on top of the host's: its commands come first, the host's stay reachable,
// and the host's table is left as it was.
TEST_F(RunScript, ATableOnTopOfTheHostsFallsThroughToIt) {
    CommandRegistry program(&host().commands());
    int own = 0;
    program.add(L"Count", [&own](const ScriptArgs&) { ++own; });
    program.add(L"SetSelFilter", [&own](const ScriptArgs&) { own += 10; });
    const ScriptResult r = run_script(program, host().log(), L"count\nSetSelFilter \"x\"\nLogMessage \"kept\"");
    EXPECT_TRUE(r.ok) << torvel::to_utf8(r.message);
    EXPECT_EQ(own, 11);
    EXPECT_EQ(host().selection_filter(), L"");
    EXPECT_EQ(log().back().text, L"kept");
    EXPECT_EQ(host().commands().find(L"Count"), nullptr);
    EXPECT_FALSE(run(L"Count").ok);
}

TEST_F(RunScript, UnknownLanguageRunsNothing) {
    const ScriptResult r = run(L"SetSelFilter \"PolygonMesh\"", L"JScript");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.line, 0);
    EXPECT_EQ(r.message, L"unknown script language \"JScript\"");
    EXPECT_EQ(host().selection_filter(), L"");
    ASSERT_EQ(log().size(), 1u);
    EXPECT_EQ(log()[0].severity, XSI::siErrorMsg);
    EXPECT_TRUE(run(L"SetSelFilter \"x\"", L"VBSCRIPT").ok);
}

TEST_F(RunScript, ExecuteScriptCodeReportsThroughTheDescriptor) {
    XSI::Application app;
    const XSI::CScriptErrorDescriptor ok = app.ExecuteScriptCode(L"SetSelFilter \"PolygonMesh\"", L"VBScript");
    EXPECT_EQ(ok.GetCode(), XSI::CStatus::OK);
    EXPECT_EQ(host().selection_filter(), L"PolygonMesh");
    const XSI::CScriptErrorDescriptor bad = app.ExecuteScriptCode(L"SetSelFilter \"a\"\nNope", L"VBScript");
    EXPECT_FALSE(bad.Succeeded());
    EXPECT_EQ(bad.GetErrorLineNumber(), 2);
    EXPECT_EQ(bad.GetDescription(), L"line 2: unknown command \"Nope\"");
}
