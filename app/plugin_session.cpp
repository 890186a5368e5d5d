#include "plugin_session.h"

#include <iostream>

#include <xsi_customproperty.h>

#include "app.h"
#include "mesh_io.h"
#include "poly_torvel_filer/items.h"
#include "plugin_registry.h"
#include "report.h"

namespace torvel::app {

namespace {
const std::wstring kTolerance = std::wstring(poly_torvel_filer::kPropertyName) + L".def";
}

LoadedPlugin::LoadedPlugin(host::Host& host, const std::filesystem::path& path) : host_(host) {
    host_.plugins().load(path);
}

LoadedPlugin::~LoadedPlugin() {
    try {
        host_.plugins().shutdown();
    } catch (const std::exception& e) {
        std::cerr << "torvel: " << e.what() << '\n';
    }
}

double settings_tolerance(host::Host& host, const std::optional<double>& requested) {
    XSI::CRef ref;
    ref = host.resolve(kTolerance);
    if (!ref.IsValid())
        throw Error("the plug-in did not create the settings parameter " + to_utf8(kTolerance),
                    ErrorCode::plugin_filter);
    XSI::Parameter def(ref);
    if (requested && def.PutValue(XSI::CValue(*requested)).GetCode() != XSI::CStatus::OK)
        throw Error(to_utf8(kTolerance) + " refused the tolerance " + format_number(*requested) + " (its range is " +
                        range_text(def) + ")",
                    ErrorCode::plugin_filter);
    return static_cast<double>(def.GetValue());
}

std::optional<std::string> unwritable_format(const std::filesystem::path& out) {
    if (io::format_named(out)) return std::nullopt;
    const std::string ext = out.extension().string();
    return "torvel cannot write " + (ext.empty() ? "a file without an extension" : "'" + ext + "' files") +
           " (it writes .obj, .ply and .off)";
}

void refuse_unwritable_format(const std::filesystem::path& out) {
    if (const auto why = unwritable_format(out)) throw UsageError("-o " + out.string() + ": " + *why);
}

}  // namespace torvel::app
