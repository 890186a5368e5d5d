// The page's scripts and styles, built into the library so that a report never depends on files found
// at run time. The paths come from the build (report/CMakeLists.txt).
#include "assets.h"

#define TORVEL_ASSET(name, file)          \
    asm(".pushsection .rodata\n"          \
        ".global " #name                  \
        "_begin\n"                        \
        ".hidden " #name "_begin\n" #name \
        "_begin:\n"                       \
        ".incbin \"" file                 \
        "\"\n"                            \
        ".global " #name                  \
        "_end\n"                          \
        ".hidden " #name "_end\n" #name   \
        "_end:\n"                         \
        ".popsection\n");                 \
    extern "C" const char name##_begin[], name##_end[];

TORVEL_ASSET(torvel_asset_three, TORVEL_THREE_JS)
TORVEL_ASSET(torvel_asset_orbit, TORVEL_ORBIT_CONTROLS_JS)
TORVEL_ASSET(torvel_asset_page_js, TORVEL_PAGE_JS)
TORVEL_ASSET(torvel_asset_page_css, TORVEL_PAGE_CSS)

namespace torvel::report::detail {

namespace {
std::string_view between(const char* begin, const char* end) { return {begin, static_cast<std::size_t>(end - begin)}; }
}  // namespace

std::string_view three_js() { return between(torvel_asset_three_begin, torvel_asset_three_end); }
std::string_view orbit_controls_js() { return between(torvel_asset_orbit_begin, torvel_asset_orbit_end); }
std::string_view page_js() { return between(torvel_asset_page_js_begin, torvel_asset_page_js_end); }
std::string_view page_css() { return between(torvel_asset_page_css_begin, torvel_asset_page_css_end); }

}  // namespace torvel::report::detail
