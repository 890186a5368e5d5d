#include <charconv>

#include "json_text.h"
#include "measure.h"
#include "text.h"
#include "torvel/torvel.h"

namespace torvel {

std::string json_text(const Json& value, int indent) {
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

namespace {

// [{"index", "object", "vertices", "line", "bend", "degenerate", "out_of_plane"}]
Json details_json(std::span<const PolygonDetail> details) {
    Json out = Json::array();
    for (const PolygonDetail& d : details) {
        Json degenerate;
        if (d.degenerate)
            degenerate = Json{{"corner", d.degenerate->corner}, {"cause", geometry::cause_text(d.degenerate->cause)}};
        out.push_back(Json{{"index", d.index},
                           {"object", d.object},
                           {"vertices", d.vertices},
                           {"line", d.line ? Json(*d.line) : Json()},
                           {"bend", d.bend && !std::isnan(*d.bend) ? Json(*d.bend) : Json()},
                           {"degenerate", std::move(degenerate)},
                           {"out_of_plane", d.out_of_plane ? Json(*d.out_of_plane) : Json()}});
    }
    return out;
}

Json histogram_json(const geometry::BendHistogram& h) {
    Json bands = Json::array(), reported = Json::array();
    for (std::size_t k = 0; k < h.bands.size(); ++k)
        bands.push_back(Json{
            {"from", geometry::kBendBandEdges[k]}, {"to", geometry::kBendBandEdges[k + 1]}, {"polygons", h.bands[k]}});
    const auto at = h.reported();
    for (std::size_t k = 0; k < at.size(); ++k)
        reported.push_back(Json{{"tolerance", geometry::kBendBandEdges[k]}, {"polygons", at[k]}});
    return Json{{"polygons", h.measured()},
                {"bands", std::move(bands)},
                {"degenerate", h.degenerate},
                {"reported", std::move(reported)}};
}

void append_number(std::string& out, std::uint64_t n) {
    char buf[24];
    out.append(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
}

// The numbers of the index arrays, which can be millions, are written directly: as JSON values they
// would be built, copied and serialised one by one. Everything else is the library's.
void append_indices(std::string& out, const std::vector<std::uint32_t>& list) {
    out.reserve(out.size() + 11 * list.size() + 3);
    out += '[';
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i) out += ',';
        append_number(out, list[i]);
    }
    out += ']';
}

std::string errors_json(std::span<const FileFailure> errors) {
    std::string out = "[";
    for (std::size_t f = 0; f < errors.size(); ++f) {
        if (f) out += ',';
        out += json_text(Json{
            {"path", errors[f].path}, {"message", errors[f].message}, {"code", std::string(error_id(errors[f].code))}});
    }
    return out + "]";
}

}  // namespace

std::string file_json(const FileReport& r, const CheckOptions& options) {
    std::string out =
        "{\"path\":" + json_text(Json(r.path)) + ",\"polygons\":" + std::to_string(r.polygons) + ",\"non_planar\":";
    append_indices(out, r.non_planar);
    out += ",\"objects\":[";
    for (std::size_t o = 0; o < r.objects.size(); ++o) {
        if (o) out += ',';
        const ObjectReport& object = r.objects[o];
        out += "{\"name\":" + json_text(Json(object.name)) + ",\"source_name\":" +
               (object.source_name.empty() ? std::string("null") : json_text(Json(object.source_name))) +
               ",\"polygons\":" + std::to_string(object.polygons) + ",\"non_planar\":";
        append_indices(out, object.non_planar);
        out += '}';
    }
    out += "],\"precision\":" + json_text(Json(r.precision));
    if (options.details || options.top) out += ",\"details\":" + json_text(details_json(r.details));
    if (options.histogram && r.histogram) out += ",\"histogram\":" + json_text(histogram_json(*r.histogram));
    return out + "}";
}

std::string check_json(double tolerance, std::span<const FileReport> files, std::span<const FileFailure> errors,
                       const CheckOptions& options) {
    std::string out = "{\"tolerance\":" + json_text(Json(tolerance)) + ",\"files\":[";
    geometry::BendHistogram all;
    for (std::size_t f = 0; f < files.size(); ++f) {
        if (f) out += ',';
        out += file_json(files[f], options);
        if (files[f].histogram) geometry::add_histogram(all, *files[f].histogram);
    }
    out += "],\"errors\":" + errors_json(errors);
    if (options.histogram) out += ",\"histogram\":" + json_text(histogram_json(all));
    return out + "}";
}

// The split list (and the moved vertices), which can have millions of numbers, is written directly
// rather than built as JSON values first.
std::string fix_json(double tolerance, const FixReport* r, std::span<const FileFailure> errors) {
    std::string out = "{\"tolerance\":" + json_text(Json(tolerance)) + ",\"files\":[";
    if (r) {
        out += "{\"path\":" + json_text(Json(r->path)) + ",\"polygons\":";
        append_number(out, r->polygons);
        out += ",\"split\":[";
        out.reserve(out.size() + 48 * r->splits.size() + 8 * r->pieces());
        for (const SplitPolygon& s : r->splits) {
            out += &s == r->splits.data() ? "{\"index\":" : ",{\"index\":";
            append_number(out, s.polygon);
            out += ",\"pieces\":[";
            for (std::uint32_t k = 0; k < s.piece_count(); ++k) {
                out += k ? ",[" : "[";
                for (std::uint32_t i = s.offsets[k]; i < s.offsets[k + 1]; ++i) {
                    if (i > s.offsets[k]) out += ',';
                    append_number(out, s.corners[i]);
                }
                out += ']';
            }
            out += s.fewest ? "],\"fewest\":true}" : "],\"fewest\":false}";
        }
        Json not_repaired = Json::array();
        for (const NotRepaired& n : r->not_repaired) not_repaired.push_back({{"index", n.index}, {"reason", n.reason}});
        out += "],\"pieces\":";
        append_number(out, r->pieces());
        if (r->flatten) {
            out += ",\"flattened\":[";
            for (const Flattened& f : r->flattened) {
                out += &f == r->flattened.data() ? "{\"index\":" : ",{\"index\":";
                append_number(out, f.index);
                out += ",\"largest_move\":" + json_text(Json(f.largest_move)) + "}";
            }
            out += "],\"moved_vertices\":[";
            for (const geometry::VertexMove& m : r->moves) {
                out += &m == r->moves.data() ? "{\"vertex\":" : ",{\"vertex\":";
                append_number(out, m.vertex);
                out += ",\"distance\":" + json_text(Json(m.distance)) + ",\"position\":" + json_text(Json(m.position)) +
                       "}";
            }
            out += "]";
        }
        out += ",\"not_repaired\":" + json_text(not_repaired) +
               ",\"output\":" + (r->output ? json_text(Json(r->output->string())) : "null") +
               ",\"converted\":" + (r->converted ? "true" : "false") + "}";
    }
    return out + "],\"errors\":" + errors_json(errors) + "}";
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

}  // namespace torvel
