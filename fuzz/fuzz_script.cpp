// libFuzzer target: arbitrary text through the script line parser and the script engine (with the
// real plug-in loaded, so SIAddProp runs its Define callback). Nothing may crash or throw out.
#include <string>

#include "host.h"
#include "loader.h"
#include "script.h"
#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    using namespace torvel::host;
    static const bool loaded = [] {
        host().plugins().load(TORVEL_PLUGIN_PATH);
        return true;
    }();
    (void)loaded;
    const std::wstring code = torvel::from_utf8(std::string_view(reinterpret_cast<const char*>(data), size));
    host().new_scene();
    host().log().clear();
    try {
        (void)parse_script_line(code);
    } catch (const ScriptError&) {
    }
    (void)run_script(host(), code, L"VBScript");
    return 0;
}
