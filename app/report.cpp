#include "report.h"

#include <charconv>

#include "app.h"
#include "host.h"

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

std::string check_line(const FileResult& result, double tolerance) {
    std::string line = result.path + ": " + std::to_string(result.non_planar.size()) + " of " +
                       std::to_string(result.polygons) + " polygons non-planar at " + format_number(tolerance) +
                       "\u00b0";
    if (!result.non_planar.empty()) line += ": " + format_ranges(result.non_planar);
    return line;
}

std::string object_lines(const FileResult& result) {
    std::string out;
    if (result.objects.size() < 2) return out;
    for (const ObjectResult& o : result.objects) {
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

std::string check_json_text(double tolerance, std::span<const FileResult> results,
                            std::span<const FileFailure> failures, std::span<const Json> file_fields,
                            const Json& run_fields) {
    auto append_fields = [](std::string& out, const Json& fields) {
        for (const auto& [key, value] : fields.items()) out += "," + json_text(Json(key)) + ":" + json_text(value);
    };
    // The numbers of the index arrays, which can be millions, are written here directly: as JSON
    // values they would be built, copied and serialised one by one. Everything else is the library's.
    std::string out = "{\"tolerance\":" + json_text(Json(tolerance)) + ",\"files\":[";
    auto indices = [&out](const std::vector<std::uint32_t>& list) {
        char buf[16];
        out.reserve(out.size() + 11 * list.size() + 3);
        out += '[';
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (i) out += ',';
            out.append(buf, std::to_chars(buf, buf + sizeof buf, list[i]).ptr);
        }
        out += ']';
    };
    for (std::size_t f = 0; f < results.size(); ++f) {
        const FileResult& r = results[f];
        if (f) out += ',';
        out +=
            "{\"path\":" + json_text(Json(r.path)) + ",\"polygons\":" + std::to_string(r.polygons) + ",\"non_planar\":";
        indices(r.non_planar);
        out += ",\"objects\":[";
        for (std::size_t o = 0; o < r.objects.size(); ++o) {
            if (o) out += ',';
            const ObjectResult& object = r.objects[o];
            out += "{\"name\":" + json_text(Json(object.name)) + ",\"source_name\":" +
                   (object.source_name.empty() ? std::string("null") : json_text(Json(object.source_name))) +
                   ",\"polygons\":" + std::to_string(r.objects[o].polygons) + ",\"non_planar\":";
            indices(r.objects[o].non_planar);
            out += '}';
        }
        out += "],\"precision\":" + json_text(Json(r.precision));
        if (f < file_fields.size()) append_fields(out, file_fields[f]);
        out += "}";
    }
    out += "],\"errors\":[";
    for (std::size_t f = 0; f < failures.size(); ++f) {
        if (f) out += ',';
        out += json_text(Json{{"path", failures[f].path},
                              {"message", failures[f].message},
                              {"code", std::string(error_id(failures[f].code))}});
    }
    out += "]";
    append_fields(out, run_fields);
    out += "}";
    return out;
}

namespace {

const char* type_name(XSI::CValue::DataType type) {
    switch (type) {
        case XSI::CValue::siEmpty: return "empty";
        case XSI::CValue::siInt4: return "int";
        case XSI::CValue::siDouble: return "double";
        case XSI::CValue::siString: return "string";
        case XSI::CValue::siBool: return "bool";
        case XSI::CValue::siRef: return "ref";
    }
    return "unknown";
}

Json value_json(const XSI::CValue& v) {
    switch (v.GetType()) {
        case XSI::CValue::siEmpty: return nullptr;
        case XSI::CValue::siInt4: return static_cast<XSI::LONG>(v);
        case XSI::CValue::siDouble: return static_cast<double>(v);
        case XSI::CValue::siBool: return static_cast<bool>(v);
        case XSI::CValue::siString:
        case XSI::CValue::siRef: return to_utf8(v.GetAsText().view());
    }
    return nullptr;
}

Json property_json(const host::Host& host, const host::PropertyObject& prop) {
    Json params = Json::array();
    for (const host::ParamDef& p : prop.params) {
        params.push_back(Json{{"script_name", to_utf8(p.script_name)},
                              {"type", type_name(p.type)},
                              {"capabilities", p.capabilities},
                              {"name", to_utf8(p.name)},
                              {"description", to_utf8(p.description)},
                              {"default", value_json(p.default_value)},
                              {"min", value_json(p.min)},
                              {"max", value_json(p.max)},
                              {"suggested_min", value_json(p.suggested_min)},
                              {"suggested_max", value_json(p.suggested_max)},
                              {"value", value_json(p.value)}});
    }
    // Items outside any group get a group of their own whose fields are null.
    Json layout = Json::array();
    bool open = false;
    for (const host::LayoutEntry& e : prop.layout) {
        using Kind = host::LayoutEntry::Kind;
        if (e.kind == Kind::end_group) {
            open = false;
        } else if (e.kind == Kind::group) {
            layout.push_back(
                Json{{"group", to_utf8(e.label)}, {"border", e.border}, {"width", e.width}, {"items", Json::array()}});
            open = true;
        } else {
            if (!open) {
                layout.push_back(
                    Json{{"group", nullptr}, {"border", nullptr}, {"width", nullptr}, {"items", Json::array()}});
                open = true;
            }
            layout.back()["items"].push_back(Json{{"name", to_utf8(e.name)},
                                                  {"label", to_utf8(e.label)},
                                                  {"control", to_utf8(e.control)},
                                                  {"label_percentage", e.label_percentage},
                                                  {"label_min_pixels", e.label_min_pixels}});
        }
    }
    return Json{{"name", to_utf8(prop.name)},
                {"full_name", to_utf8(host.full_name(prop.self))},
                {"parameters", std::move(params)},
                {"layout", std::move(layout)}};
}

}  // namespace

Json plugin_info(const host::Host& h, const host::PluginLibrary& library) {
    const auto* reg = h.store().find_as<host::RegistrarObject>(library.registrar());
    Json info{{"name", to_utf8(library.name())},
              {"author", reg ? Json(to_utf8(reg->author)) : Json()},
              {"email", reg ? Json(to_utf8(reg->email)) : Json()},
              {"url", reg ? Json(to_utf8(reg->url)) : Json()},
              {"version", reg ? Json{reg->version_major, reg->version_minor} : Json()}};

    Json items = Json::array();
    const host::PropertyObject* property = nullptr;
    for (const host::ItemInfo& item : library.items()) {
        Json entry{{"name", to_utf8(item.name)}, {"kind", item.is_filter ? "filter" : "property"}};
        if (item.is_filter) entry["filter_type"] = item.filter_type;
        Json callbacks = Json::object();
        for (const auto& [name, cb] : item.callbacks) callbacks[name] = cb.exported_name;
        entry["callbacks"] = std::move(callbacks);
        items.push_back(std::move(entry));
        if (item.is_filter || property) continue;
        for (const XSI::CRef& ref : h.root().properties)
            if (const auto* p = h.store().find_as<host::PropertyObject>(ref); p && p->kind == item.name) {
                property = p;
                break;
            }
    }
    info["items"] = std::move(items);
    info["property"] = property ? property_json(h, *property) : Json();
    return info;
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
