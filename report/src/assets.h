// The texts inlined into every report: Debian's three.js (r111, the non-module build) and its orbit
// controls, and the page's own script and styles (report/page). Static for the life of the program.
#pragma once

#include <string_view>

namespace torvel::report::detail {

std::string_view three_js();
std::string_view orbit_controls_js();
std::string_view page_js();
std::string_view page_css();

}  // namespace torvel::report::detail
