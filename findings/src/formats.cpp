#include "formats.h"

#include <cstdio>
#include <map>

#include <nlohmann/json.hpp>

#include "text.h"

namespace torvel::findings {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

// The path relative to the working folder when it lies in it (generic form), else the absolute path;
// `inside` says which.
std::string shown_path(const std::string& path, const fs::path& working_folder, bool& inside) {
    const fs::path given = fs::path(path).lexically_normal();
    const fs::path absolute = given.is_absolute() ? given : (working_folder / given).lexically_normal();
    const fs::path relative = absolute.lexically_relative(working_folder.lexically_normal());
    inside = !relative.empty() && *relative.begin() != "..";
    return inside ? relative.generic_string() : absolute.generic_string();
}

std::string percent_encoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (unreserved) {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 15]);
        }
    }
    return out;
}

Level level_of(const Finding& f, const RuleSet& fail_on) { return fail_on.has(f.rule) ? Level::error : Level::warning; }

std::string rule_title(Rule rule) {
    const RuleInfo& info = rule_info(rule);
    return std::string(info.id) + " " + std::string(info.name);
}

Json sarif_rules() {
    Json rules = Json::array();
    for (const RuleInfo& info : kRules) {
        rules.push_back({{"id", info.id},
                         {"name", info.pascal},
                         {"shortDescription", {{"text", info.short_description}}},
                         {"fullDescription", {{"text", info.full_description}}},
                         {"defaultConfiguration", {{"level", level_text(info.level)}}},
                         {"help", {{"text", info.full_description}}},
                         {"properties", {{"tags", {std::string(info.name)}}}}});
    }
    return rules;
}

Json sarif_location(const std::string& uri, std::optional<std::uint32_t> line) {
    Json physical = {{"artifactLocation", {{"uri", uri}}}};
    if (line) physical["region"] = {{"startLine", *line}};
    return physical;
}

Json sarif_result(const Finding& f, const Run& run) {
    const std::string uri = artifact_uri(f.path, run.working_folder);
    const std::string polygon = "polygon " + std::to_string(f.polygon);
    Json location = {
        {"physicalLocation", sarif_location(uri, f.line)},
        {"logicalLocations",
         Json::array({{{"name", f.object}, {"kind", "object"}},
                      {{"name", polygon}, {"fullyQualifiedName", f.object + "/" + polygon}, {"kind", "element"}}})}};
    return {{"ruleId", rule_info(f.rule).id},
            {"ruleIndex", static_cast<int>(f.rule)},
            {"level", level_text(level_of(f, run.fail_on))},
            {"message", {{"text", f.message}}},
            {"locations", Json::array({location})},
            {"partialFingerprints", {{"torvelPolygon/v1", f.fingerprint}}}};
}

// Text for XML character data and attribute values: markup characters escaped; bytes that are not UTF-8
// and characters XML 1.0 cannot hold (control characters other than tab and line ends) as U+FFFD.
std::string xml_escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Sequence s = utf8_sequence_at(text, at);
        if (s.length == 0) {
            out += "\uFFFD";
            ++at;
            continue;
        }
        const char32_t c = s.code_point;
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            case '\n': out += "&#10;"; break;
            case '\r': out += "&#13;"; break;
            case '\t': out += "&#9;"; break;
            default:
                if (c < 0x20 || c == 0xFFFE || c == 0xFFFF)
                    out += "\uFFFD";
                else
                    out.append(text.substr(at, s.length));
        }
        at += s.length;
    }
    return out;
}

// "PATH:LINE: TV001 non-planar: MESSAGE"
std::string finding_line(const Finding& f) {
    return f.path + (f.line ? ":" + std::to_string(*f.line) : std::string()) + ": " + rule_title(f.rule) + ": " +
           f.message;
}

// Workflow command escaping: the data part, and a property value (which also may not hold ':' or ',').
std::string command_escaped(std::string_view text, bool property) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '%': out += "%25"; break;
            case '\r': out += "%0D"; break;
            case '\n': out += "%0A"; break;
            case ':': out += property ? "%3A" : ":"; break;
            case ',': out += property ? "%2C" : ","; break;
            default: out.push_back(c);
        }
    }
    return out;
}

}  // namespace

std::string artifact_uri(const std::string& path, const fs::path& working_folder) {
    bool inside = false;
    const std::string shown = shown_path(path, working_folder, inside);
    return inside ? percent_encoded(shown) : "file://" + percent_encoded(shown);
}

std::string sarif_text(const Run& run) {
    Json results = Json::array();
    for (const FileFindings& file : run.files)
        for (const Finding& f : file.findings) results.push_back(sarif_result(f, run));
    Json notifications = Json::array();
    for (const FailedFile& e : run.errors) {
        notifications.push_back(
            {{"level", "error"},
             {"message", {{"text", e.message}}},
             {"descriptor", {{"id", e.code}}},
             {"locations",
              Json::array({{{"physicalLocation", sarif_location(artifact_uri(e.path, run.working_folder), {})}}})}});
    }
    Json invocation = {{"executionSuccessful", run.errors.empty()}};
    if (!notifications.empty()) invocation["toolExecutionNotifications"] = notifications;
    const Json driver = {
        {"name", "torvel"}, {"version", run.version}, {"semanticVersion", run.version}, {"rules", sarif_rules()}};
    const Json log = {{"$schema", "https://json.schemastore.org/sarif-2.1.0.json"},
                      {"version", "2.1.0"},
                      {"runs", Json::array({{{"tool", {{"driver", driver}}},
                                             {"invocations", Json::array({invocation})},
                                             {"columnKind", "unicodeCodePoints"},
                                             {"results", results}}})}};
    return log.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string junit_text(const Run& run) {
    std::size_t failures = 0;
    for (const FileFindings& file : run.files) failures += fails(file.findings, run.fail_on);
    const std::string counts = " tests=\"" + std::to_string(run.files.size() + run.errors.size()) + "\" failures=\"" +
                               std::to_string(failures) + "\" errors=\"" + std::to_string(run.errors.size()) + "\"";
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"torvel\"" + counts + ">\n";
    out += "  <testsuite name=\"torvel check\"" + counts + " skipped=\"0\">\n";
    for (const FileFindings& file : run.files) {
        out += "    <testcase name=\"" + xml_escaped(file.path) + "\" classname=\"torvel.check\"";
        if (file.findings.empty()) {
            out += "/>\n";
            continue;
        }
        out += ">\n";
        std::string failing, other;
        std::map<Rule, std::size_t> count;
        std::optional<Rule> first;
        for (const Finding& f : file.findings) {
            const bool fail = run.fail_on.has(f.rule);
            (fail ? failing : other) += finding_line(f) + "\n";
            if (!fail) continue;
            ++count[f.rule];
            if (!first) first = f.rule;
        }
        if (first) {
            std::string summary;
            for (const auto& [rule, n] : count)
                summary += (summary.empty() ? "" : ", ") + std::to_string(n) + " " + rule_title(rule);
            out += "      <failure message=\"" + xml_escaped(summary) + "\" type=\"" +
                   std::string(rule_info(*first).id) + "\">" + xml_escaped(failing) + "</failure>\n";
        }
        if (!other.empty()) out += "      <system-out>" + xml_escaped(other) + "</system-out>\n";
        out += "    </testcase>\n";
    }
    for (const FailedFile& e : run.errors) {
        out += "    <testcase name=\"" + xml_escaped(e.path) + "\" classname=\"torvel.check\">\n";
        out += "      <error message=\"" + xml_escaped(e.message) + "\" type=\"" + xml_escaped(e.code) + "\"/>\n";
        out += "    </testcase>\n";
    }
    out += "  </testsuite>\n</testsuites>\n";
    return out;
}

std::string github_text(const Run& run) {
    std::string out;
    bool inside = false;
    for (const FileFindings& file : run.files) {
        const std::string path = command_escaped(shown_path(file.path, run.working_folder, inside), true);
        for (const Finding& f : file.findings) {
            out += "::" + std::string(level_text(level_of(f, run.fail_on))) + " file=" + path;
            if (f.line) out += ",line=" + std::to_string(*f.line);
            out +=
                ",title=" + command_escaped(rule_title(f.rule), true) + "::" + command_escaped(f.message, false) + "\n";
        }
    }
    for (const FailedFile& e : run.errors) {
        out += "::error file=" + command_escaped(shown_path(e.path, run.working_folder, inside), true) +
               ",title=" + command_escaped(e.code, true) + "::" + command_escaped(e.message, false) + "\n";
    }
    return out;
}

}  // namespace torvel::findings
