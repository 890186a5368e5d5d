#include "report.h"

#include <algorithm>
#include <charconv>

#include "app.h"

namespace torvel::app {

std::string format_number(double value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string format_ranges(std::span<const std::uint32_t> sorted, const char* separator) {
    std::string out;
    for (std::size_t i = 0; i < sorted.size();) {
        std::size_t j = i;
        while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1) ++j;
        if (!out.empty()) out += separator;
        out += std::to_string(sorted[i]);
        if (j > i) out += "-" + std::to_string(sorted[j]);
        i = j + 1;
    }
    return out;
}

std::string json_text(const Json& value, int indent) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

std::string check_line(const FileReport& result, double tolerance) {
    std::string line = result.path + ": " + std::to_string(result.non_planar.size()) + " of " +
                       std::to_string(result.polygons) + " polygons non-planar at " + format_number(tolerance) +
                       "\u00b0";
    if (!result.non_planar.empty()) line += ": " + format_ranges(result.non_planar);
    return line;
}

std::string object_lines(const FileReport& result) {
    std::string out;
    if (result.objects.size() < 2) return out;
    for (const ObjectReport& o : result.objects) {
        out += "  " + o.name + ": " + std::to_string(o.non_planar.size()) + " of " + std::to_string(o.polygons) +
               " polygons non-planar";
        if (!o.non_planar.empty()) out += ": " + format_ranges(o.non_planar);
        out += '\n';
    }
    return out;
}

std::string check_summary(const CheckTotals& t) {
    auto count = [](std::uint64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    return "summary: " + count(t.checked, "file", "files") + " checked, " + std::to_string(t.non_planar) +
           " with non-planar polygons, " + count(t.polygons, "non-planar polygon", "non-planar polygons") +
           " in all, " + std::to_string(t.failed) + " could not be checked";
}

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string repair_summary(std::span<const torvel::SplitPolygon> splits, std::size_t not_repaired, double tolerance) {
    std::size_t pieces = 0;
    for (const torvel::SplitPolygon& s : splits) pieces += s.piece_count();
    return plural(splits.size(), "polygon", "polygons") + " split into " + plural(pieces, "piece", "pieces") + ", " +
           std::to_string(not_repaired) + " not repaired at " + format_number(tolerance) + "\u00b0";
}

std::string flattened_summary(std::span<const torvel::Flattened> flattened,
                              std::span<const geometry::VertexMove> moves) {
    if (flattened.empty()) return {};
    double largest = 0;
    for (const geometry::VertexMove& m : moves) largest = std::max(largest, m.distance);
    return plural(flattened.size(), "polygon", "polygons") + " flattened, " +
           plural(moves.size(), "vertex", "vertices") + " moved, none by more than " + format_number(largest);
}

std::string not_fewest_summary(std::span<const torvel::SplitPolygon> splits) {
    std::ptrdiff_t size = 0, budget = 0;
    for (const torvel::SplitPolygon& s : splits) {
        size += !s.fewest;
        budget += !s.fewest && !s.triangulated;
    }
    if (size == 0) return {};
    std::string why = budget == size ? "the search's budget was reached"
                      : budget == 0  ? "a piece the filter still reported was split into triangles"
                                     : "the search's budget was reached, or a piece the filter still reported was "
                                       "split into triangles";
    return std::to_string(size) + " of the splits " + (size == 1 ? "is" : "are") + " not proven the fewest pieces (" +
           why + ")";
}

namespace {

// A JSON value as it reads in the summary: text quoted with its escapes visible, null as "none".
std::string shown(const Json& v) {
    if (v.is_null()) return "none";
    return v.is_number_float() ? format_number(v.get<double>()) : json_text(v);
}

}  // namespace

std::string plugin_info_text(const Json& info, const std::string& path) {
    std::string out = shown(info["name"]);
    if (info["version"].is_array())
        out += " version " + json_text(info["version"][0]) + "." + json_text(info["version"][1]);
    out += "\n  file:   " + path;
    out += "\n  author: " + shown(info["author"]);
    out += "\n  email:  " + shown(info["email"]);
    out += "\n  url:    " + shown(info["url"]) + "\n";
    out += "items:\n";
    for (const Json& item : info["items"]) {
        out += "  " + item["name"].get<std::string>() + " (" + item["kind"].get<std::string>();
        if (item.contains("filter_type")) out += ", filter type " + json_text(item["filter_type"]);
        out += ")\n";
        for (const auto& [name, exported] : item["callbacks"].items())
            out += "    " + name + ": " + exported.get<std::string>() + "\n";
    }
    const Json& prop = info["property"];
    if (prop.is_null()) return out + "property: none in the scene\n";
    out += "property " + prop["full_name"].get<std::string>() + ":\n";
    for (const Json& p : prop["parameters"]) {
        out += "  " + p["script_name"].get<std::string>() + " (" + p["type"].get<std::string>() + ", capabilities " +
               json_text(p["capabilities"]) + "): name " + shown(p["name"]) + ", description " +
               shown(p["description"]) + "\n";
        out += "    value " + shown(p["value"]) + ", default " + shown(p["default"]) + ", range " + shown(p["min"]) +
               " to " + shown(p["max"]) + ", suggested " + shown(p["suggested_min"]) + " to " +
               shown(p["suggested_max"]) + "\n";
    }
    out += "page:\n";
    for (const Json& g : prop["layout"]) {
        out +=
            "  group " + shown(g["group"]) + " (border " + shown(g["border"]) + ", width " + shown(g["width"]) + ")\n";
        for (const Json& it : g["items"])
            out += "    " + it["name"].get<std::string>() + ": label " + shown(it["label"]) + ", control " +
                   shown(it["control"]) + ", label " + json_text(it["label_percentage"]) + "% / " +
                   json_text(it["label_min_pixels"]) + " px\n";
    }
    return out;
}

}  // namespace torvel::app
