#include "findings.h"

#include <xxhash.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>

#include "polygon_shape.h"

namespace torvel::findings {

const std::array<RuleInfo, 3> kRules = {
    RuleInfo{Rule::non_planar, "TV001", "non-planar", "NonPlanar",
             "The plug-in's filter reported the polygon as non-planar.",
             "The poly_torvel_filer plug-in's filter left the polygon selected: its corner normals differ by the "
             "tolerance or more. The verdict is the plug-in's own; torvel reports it as given.",
             Level::error},
    RuleInfo{Rule::degenerate, "TV002", "degenerate", "Degenerate",
             "The filter reported the polygon, which has a (nearly) collinear corner.",
             "The filter reported the polygon, and one of its corners is collinear with its neighbours to within "
             "1e-5 of the polygon's size (or has a zero-length edge). That corner's normal points in a direction "
             "set by rounding, so the polygon may be reported although it is flat; the message says whether it is.",
             Level::error},
    RuleInfo{Rule::out_of_plane, "TV003", "out-of-plane", "OutOfPlane",
             "A corner of the polygon lies farther from its best-fit plane than --max-distance.",
             "A polygon of 4 or more corners has a corner farther from its best-fit plane (through the corners' "
             "centroid, perpendicular to the Newell normal) than the --max-distance limit, in model units. This "
             "is torvel's own description, not the filter's verdict: it catches a large polygon with a corner "
             "slightly out, whose corner normals hardly turn.",
             Level::error},
};

const RuleInfo& rule_info(Rule rule) { return kRules[static_cast<std::size_t>(rule)]; }

std::string_view level_text(Level level) {
    switch (level) {
        case Level::error: return "error";
        case Level::warning: return "warning";
        case Level::note: return "note";
    }
    return "error";
}

RuleSet::RuleSet(std::initializer_list<Rule> rules) {
    for (const Rule rule : rules) add(rule);
}

namespace {

bool same_ascii_folded(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

std::string polygon_text(const Finding& f) {
    return "polygon " + std::to_string(f.polygon) + " (object '" + f.object + "')";
}

std::string non_planar_message(const Finding& f, const geometry::PolygonShape& shape, double tolerance) {
    std::string text = polygon_text(f) + " is non-planar at " + number(tolerance) + "\u00b0";
    if (shape.bend && std::isfinite(*shape.bend)) text += ": bend " + number(*shape.bend) + "\u00b0";
    return text;
}

std::string degenerate_message(const Finding& f, const geometry::CollinearCorner& corner,
                               const geometry::PolygonShape& shape) {
    std::string what = "corner " + std::to_string(corner.corner);
    if (corner.exact && shape.degenerate && shape.degenerate->cause == geometry::DegenerateCause::zero_length_edge)
        what += " has a zero-length edge";
    else
        what += corner.exact ? " is collinear" : " is nearly collinear";
    if (f.flat) return polygon_text(f) + " is reported by the filter: flat, but " + what;
    std::string text = polygon_text(f) + " is reported by the filter: " + what;
    if (shape.out_of_plane) text += ", and it is out of plane by " + number(*shape.out_of_plane) + " of its size";
    return text;
}

std::string out_of_plane_message(const Finding& f, double max_distance) {
    return polygon_text(f) + " has a corner " + number(*f.distance) +
           " from its best-fit plane (more than the maximum distance " + number(max_distance) + ")";
}

Finding located(std::string_view path, const ObjectInput& object, std::uint32_t k, Rule rule) {
    Finding f;
    f.rule = rule;
    f.path = path;
    f.object = object.name;
    f.polygon = object.first + k;
    f.object_polygon = k;
    if (k < object.face_lines.size()) f.line = object.face_lines[k];
    return f;
}

}  // namespace

RuleSet parse_rules(std::string_view list) {
    RuleSet rules;
    if (trimmed(list).empty()) return rules;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = list.find(',', start);
        const std::string_view entry = trimmed(list.substr(start, comma - start));
        const auto known = std::find_if(kRules.begin(), kRules.end(), [&](const RuleInfo& r) {
            return same_ascii_folded(entry, r.id) || same_ascii_folded(entry, r.name);
        });
        if (known == kRules.end())
            throw RuleError("unknown rule \"" + std::string(entry) +
                            "\" (the rules are TV001 non-planar, TV002 degenerate, TV003 out-of-plane)");
        rules.add(known->rule);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return rules;
}

RuleSet default_fail_on(bool max_distance) {
    RuleSet rules{Rule::non_planar, Rule::degenerate};
    if (max_distance) rules.add(Rule::out_of_plane);
    return rules;
}

double fingerprint_grid(std::span<const ObjectInput> objects) {
    double low[3] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::infinity()};
    double high[3] = {-low[0], -low[0], -low[0]};
    for (const ObjectInput& object : objects) {
        const std::span<const double> p = object.mesh.positions;
        for (std::size_t i = 0; i + 2 < p.size(); i += 3) {
            for (int axis = 0; axis < 3; ++axis) {
                low[axis] = std::min(low[axis], p[i + axis]);
                high[axis] = std::max(high[axis], p[i + axis]);
            }
        }
    }
    double extent = 0;
    for (int axis = 0; axis < 3; ++axis) extent = std::max(extent, high[axis] - low[axis]);
    if (!(extent > 0) || !std::isfinite(extent)) return 1;
    return std::exp2(std::ceil(std::log2(extent * 1e-6)));
}

std::string fingerprint(std::string_view path, std::string_view object, Rule rule,
                        std::span<const double> corner_positions, double grid) {
    // Rounded to whole grid steps as integers; a value too large for that (or not finite) keeps its bits.
    std::vector<std::int64_t> rounded(corner_positions.size());
    for (std::size_t i = 0; i < rounded.size(); ++i) {
        const double steps = std::round(corner_positions[i] / grid);
        rounded[i] = std::fabs(steps) < 9e18 ? static_cast<std::int64_t>(steps)
                                             : std::bit_cast<std::int64_t>(corner_positions[i]);
    }
    const std::size_t corners = rounded.size() / 3;
    std::size_t start = 0;
    for (std::size_t k = 1; k < corners; ++k) {
        if (std::lexicographical_compare(rounded.begin() + 3 * k, rounded.begin() + 3 * k + 3,
                                         rounded.begin() + 3 * start, rounded.begin() + 3 * start + 3))
            start = k;
    }
    // Each text with its length in front, so that no two (path, object) pairs run together alike.
    std::string bytes;
    for (const std::string_view text : {path, object, rule_info(rule).id}) {
        const std::uint64_t size = text.size();
        for (int b = 0; b < 8; ++b) bytes.push_back(static_cast<char>((size >> (8 * b)) & 0xFF));
        bytes.append(text);
    }
    for (std::size_t k = 0; k < corners; ++k) {
        for (int axis = 0; axis < 3; ++axis) {
            const auto value = static_cast<std::uint64_t>(rounded[3 * ((start + k) % corners) + axis]);
            for (int b = 0; b < 8; ++b) bytes.push_back(static_cast<char>((value >> (8 * b)) & 0xFF));
        }
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(XXH64(bytes.data(), bytes.size(), 0)));
    return hex;
}

std::vector<Finding> file_findings(std::string_view path, std::span<const ObjectInput> objects,
                                   const RuleOptions& options) {
    const double grid = fingerprint_grid(objects);
    std::vector<Finding> out;
    for (const ObjectInput& object : objects) {
        const std::size_t polygons = object.mesh.polygon_count();
        std::vector<geometry::PlaneDistance> far;
        if (options.max_distance) far = geometry::out_of_plane_polygons(object.mesh, *options.max_distance);
        auto next_far = far.begin();
        auto add_far_before = [&](std::uint32_t end) {
            for (; next_far != far.end() && next_far->polygon < end; ++next_far) {
                Finding f = located(path, object, next_far->polygon, Rule::out_of_plane);
                f.distance = next_far->distance;
                f.message = out_of_plane_message(f, *options.max_distance);
                f.fingerprint = fingerprint(path, object.name, f.rule,
                                            geometry::polygon_corners(object.mesh, next_far->polygon), grid);
                out.push_back(std::move(f));
            }
        };
        for (const std::uint32_t k : object.reported) {
            if (k >= polygons)
                throw std::invalid_argument("object '" + std::string(object.name) + "': reported polygon " +
                                            std::to_string(k) + " past its " + std::to_string(polygons) + " polygons");
            add_far_before(k);
            const std::vector<double> corners = geometry::polygon_corners(object.mesh, k);
            const geometry::PolygonShape shape = geometry::describe_polygon(corners);
            const std::optional<geometry::CollinearCorner> collinear = geometry::nearly_collinear_corner(corners);
            Finding f = located(path, object, k, collinear ? Rule::degenerate : Rule::non_planar);
            if (collinear) {
                f.corner = collinear->corner;
                f.flat = shape.out_of_plane && *shape.out_of_plane <= geometry::kNearlyCollinear;
                f.message = degenerate_message(f, *collinear, shape);
            } else {
                f.message = non_planar_message(f, shape, options.tolerance);
            }
            f.fingerprint = fingerprint(path, object.name, f.rule, corners, grid);
            out.push_back(std::move(f));
            add_far_before(k + 1);
        }
        add_far_before(static_cast<std::uint32_t>(polygons));
    }
    return out;
}

bool fails(std::span<const Finding> findings, const RuleSet& fail_on) {
    return std::any_of(findings.begin(), findings.end(), [&](const Finding& f) { return fail_on.has(f.rule); });
}

}  // namespace torvel::findings
