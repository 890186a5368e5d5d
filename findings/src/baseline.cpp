#include "baseline.h"

#include "file_text.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

#include <nlohmann/json.hpp>

namespace torvel::findings {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

bool is_fingerprint(const std::string& text) {
    return text.size() == 16 && std::all_of(text.begin(), text.end(),
                                            [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::size_t line_of(std::string_view text, std::size_t byte) {
    byte = std::min(byte, text.size());
    return 1 +
           static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(byte), '\n'));
}

}  // namespace

std::string baseline_text(std::span<const FileFindings> files) {
    std::string out = "{\"torvel_baseline\": 1, \"findings\": [";
    bool first = true;
    for (const FileFindings& file : files) {
        for (const Finding& f : file.findings) {
            const Json entry = {{"fingerprint", f.fingerprint},
                                {"rule", rule_info(f.rule).id},
                                {"path", f.path},
                                {"object", f.object},
                                {"polygon", f.polygon}};
            out += (first ? "\n  " : ",\n  ") + entry.dump(-1, ' ', false, Json::error_handler_t::replace);
            first = false;
        }
    }
    out += first ? "]}\n" : "\n]}\n";
    return out;
}

Baseline parse_baseline(std::string_view text, const fs::path& file) {
    const std::string name = file.string();
    Json document;
    try {
        document = Json::parse(text);
    } catch (const Json::parse_error& e) {
        throw BaselineError(name + ":" + std::to_string(line_of(text, e.byte == 0 ? 0 : e.byte - 1)) +
                            ": not JSON: " + e.what());
    }
    if (!document.is_object() || !document.contains("torvel_baseline") || !document.contains("findings"))
        throw BaselineError(name + ": not a torvel baseline (no \"torvel_baseline\" and \"findings\")");
    if (document["torvel_baseline"] != 1)
        throw BaselineError(name + ": baseline version " + document["torvel_baseline"].dump() +
                            " (this torvel reads version 1)");
    const Json& findings = document["findings"];
    if (!findings.is_array()) throw BaselineError(name + ": \"findings\" is not an array");
    Baseline out;
    for (std::size_t k = 0; k < findings.size(); ++k) {
        const Json& entry = findings[k];
        const Json* fingerprint = entry.is_object() && entry.contains("fingerprint") ? &entry["fingerprint"] : nullptr;
        if (!fingerprint || !fingerprint->is_string() || !is_fingerprint(fingerprint->get<std::string>()))
            throw BaselineError(name + ": finding " + std::to_string(k) +
                                ": no \"fingerprint\" of 16 lowercase hex digits");
        ++out.fingerprints[fingerprint->get<std::string>()];
    }
    return out;
}

Baseline load_baseline(const fs::path& file) { return parse_baseline(detail::file_text<BaselineError>(file), file); }

std::vector<FileFindings> new_findings(std::span<const FileFindings> files, const Baseline& baseline) {
    std::map<std::string, std::size_t> left = baseline.fingerprints;
    std::vector<FileFindings> out;
    out.reserve(files.size());
    for (const FileFindings& file : files) {
        FileFindings kept{file.path, {}};
        for (const Finding& f : file.findings) {
            const auto accepted = left.find(f.fingerprint);
            if (accepted != left.end() && accepted->second > 0)
                --accepted->second;
            else
                kept.findings.push_back(f);
        }
        out.push_back(std::move(kept));
    }
    return out;
}

}  // namespace torvel::findings
