// libFuzzer target: arbitrary text through the script line parser and the script engine (with the
// real plug-in loaded, so SIAddProp runs its Define callback). Nothing may crash or throw out.
#include <string>

#include "host.h"
#include "plugin_registry.h"
#include "script.h"
#include "text.h"

using namespace torvel::host;

namespace {

// One host for the fuzzing process, bound for all of it, with the plug-in loaded once.
Host& host() {
    static Host h;
    static const HostScope bound(h);
    static const bool loaded = [] {
        h.plugins().load(TORVEL_PLUGIN_PATH);
        return true;
    }();
    (void)loaded;
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::wstring code = torvel::from_utf8(std::string_view(reinterpret_cast<const char*>(data), size));
    host().new_scene();
    host().log().clear();
    try {
        (void)parse_script_line(code);
    } catch (const ScriptError&) {
    }
    (void)run_script(host().commands(), host().log(), code, L"VBScript");
    return 0;
}
