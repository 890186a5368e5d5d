// The findings of a check: one list, of which every output format (text, JSON, SARIF, JUnit, workflow
// annotations) is a view, so that they never disagree.
//
// Rules:
//   TV001 non-planar    a polygon the plug-in's filter reported (its verdict, as reported), other than TV002's
//   TV002 degenerate    a polygon the filter reported that is described degenerate or nearly so: a corner
//                       collinear to within geometry::kNearlyCollinear of the polygon's size (exactly
//                       collinear, or a zero-length edge, included), so that its corner normal's direction,
//                       and with it the bend, is rounding noise. TV001 and TV002 together are exactly the
//                       polygons the filter reported, each once.
//   TV003 out-of-plane  opt-in (RuleOptions::max_distance): a polygon of 4+ corners whose largest corner
//                       distance from its best-fit plane (geometry::plane_distance) exceeds the limit. A
//                       description of its own: it never changes what the filter reported.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "polygon_mesh.h"

namespace torvel::findings {

enum class Rule : std::uint8_t { non_planar, degenerate, out_of_plane };
enum class Level : std::uint8_t { error, warning, note };

struct RuleInfo {
    Rule rule;
    std::string_view id;      // "TV001": stable once published
    std::string_view name;    // "non-planar", as messages and options name it
    std::string_view pascal;  // "NonPlanar": SARIF's reportingDescriptor.name
    std::string_view short_description;
    std::string_view full_description;
    Level level;  // the level of a finding of a rule the run fails on
};

extern const std::array<RuleInfo, 3> kRules;
const RuleInfo& rule_info(Rule rule);
std::string_view level_text(Level level);  // "error", "warning", "note"

// A set of rules, as --fail-on names them.
class RuleSet {
public:
    RuleSet() = default;
    RuleSet(std::initializer_list<Rule> rules);
    void add(Rule rule) { bits_ |= bit(rule); }
    bool has(Rule rule) const { return (bits_ & bit(rule)) != 0; }
    bool empty() const { return bits_ == 0; }
    bool operator==(const RuleSet&) const = default;

private:
    static std::uint8_t bit(Rule rule) { return static_cast<std::uint8_t>(1u << static_cast<unsigned>(rule)); }
    std::uint8_t bits_ = 0;
};

// A bad --fail-on list or rule name; the message names the entry.
class RuleError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// "TV001,TV002" (ids or names, case-insensitive, spaces around commas allowed). An empty list fails on
// nothing. Throws RuleError naming an unknown entry.
RuleSet parse_rules(std::string_view list);
// --fail-on's default: TV001 and TV002, and TV003 when a max distance is given.
RuleSet default_fail_on(bool max_distance);

struct Finding {
    Rule rule = Rule::non_planar;
    std::string path;                   // the file, as given
    std::string object;                 // as the scene names it
    std::uint32_t polygon = 0;          // in the file (objects one after another), as torvel numbers them
    std::uint32_t object_polygon = 0;   // within the object
    std::optional<std::uint32_t> line;  // OBJ: the polygon's `f` line
    std::string message;
    std::string fingerprint;  // 16 lowercase hex digits; see fingerprint()
    // What the rule measured: TV002 the corner and whether the polygon is flat; TV003 the distance.
    std::optional<std::uint32_t> corner;
    bool flat = false;
    std::optional<double> distance;
};

// One object of a checked file as the scene holds it. Spans are owned by the caller.
struct ObjectInput {
    std::string_view name;
    MeshView mesh;
    std::uint32_t first = 0;                    // the object's first polygon, numbered in the file
    std::span<const std::uint32_t> reported;    // the filter's verdict: ascending, within the object
    std::span<const std::uint32_t> face_lines;  // OBJ: the `f` line of each polygon; empty otherwise
};

struct RuleOptions {
    double tolerance = 45;               // degrees, as the filter read it: for messages
    std::optional<double> max_distance;  // TV003 when set (model units, >= 0)
};

// The findings of one file, by polygon (file order), a polygon's TV001/TV002 before its TV003. Throws
// std::invalid_argument (geometry::GeometryError) for arrays that do not hold together, or a reported
// index past an object's polygons.
std::vector<Finding> file_findings(std::string_view path, std::span<const ObjectInput> objects,
                                   const RuleOptions& options);

// The grid corner positions are rounded to for fingerprints: the power of two nearest above 1e-6 of the
// file's extent (the largest side of the bounding box of all objects' vertices); 1 for an empty or
// non-finite extent. A power of two, so that a file that grows a little keeps its grid.
double fingerprint_grid(std::span<const ObjectInput> objects);

// XXH64 over the path, the object's name, the rule's id and the corners' positions rounded to `grid`,
// taken from the corner of smallest rounded position: the same when unrelated polygons are added,
// removed or reordered, vertices renumbered or the corner list rotated. 16 lowercase hex digits.
std::string fingerprint(std::string_view path, std::string_view object, Rule rule,
                        std::span<const double> corner_positions, double grid);

// True when one of `findings` is of a rule in `fail_on`.
bool fails(std::span<const Finding> findings, const RuleSet& fail_on);

}  // namespace torvel::findings
