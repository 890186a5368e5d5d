#include "file_session.h"

#include <algorithm>
#include <charconv>
#include <iostream>

#include "plugin_registry.h"
#include "poly_torvel_filer/items.h"
#include "text.h"

namespace torvel {

std::string number_text(double value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

std::string range_text(const XSI::Parameter& p) {
    auto text = [](const XSI::CValue& v) { return v.IsEmpty() ? std::string("none") : to_utf8(v.GetAsText().view()); };
    return text(p.GetMin()) + " to " + text(p.GetMax());
}

double settings_tolerance(host::Host& host, const std::optional<double>& requested) {
    const std::wstring name = poly_torvel_filer::kToleranceParameter;
    const XSI::CRef ref = host.resolve(name);
    if (!ref.IsValid())
        throw Error("the plug-in did not create the settings parameter " + to_utf8(name), ErrorCode::plugin_filter);
    XSI::Parameter def(ref);
    if (requested && def.PutValue(XSI::CValue(*requested)).GetCode() != XSI::CStatus::OK)
        throw Error(to_utf8(name) + " refused the tolerance " + number_text(*requested) + " (its range is " +
                        range_text(def) + ")",
                    ErrorCode::plugin_filter);
    return static_cast<double>(def.GetValue());
}

std::vector<std::uint32_t> reported_polygons(host::Host& host, const XSI::CRef& object) {
    const std::vector<XSI::CRef> selection = {host.make_component_item(object, XSI::siPolygonFaceID, {})};
    std::vector<std::uint32_t> out =
        std::move(host::run_filter(host, poly_torvel_filer::kFilterName, selection).remaining.front());
    std::sort(out.begin(), out.end());
    return out;
}

FileSession::Loaded::Loaded(host::Host& h, const std::filesystem::path& plugin) : host(h) {
    host.new_scene();
    host.plugins().load(plugin);
}

FileSession::Loaded::~Loaded() {
    try {
        host.plugins().shutdown();
    } catch (const std::exception& e) {
        std::cerr << "torvel: " << e.what() << '\n';
    }
}

FileSession::FileSession(host::Host& host, const std::filesystem::path& plugin, const std::optional<double>& tolerance)
    : host_(host), plugin_(plugin), loaded_(host, plugin), tolerance_(settings_tolerance(host, tolerance)) {}

std::vector<XSI::CRef> FileSession::add_objects(std::vector<PolygonMesh>&& objects, const std::string& path) {
    std::vector<std::wstring> names;
    names.reserve(objects.size());
    for (const PolygonMesh& o : objects) names.push_back(from_utf8(o.objects.front().name));
    try {
        return host_.add_meshes(std::move(names), std::move(objects));
    } catch (const HostError& e) {
        throw FileError(path + ": " + e.what(), {}, ErrorCode::parse);
    }
}

std::vector<std::uint32_t> FileSession::reported(const XSI::CRef& object) {
    try {
        return reported_polygons(host_, object);
    } catch (const HostError& e) {
        throw Error(plugin_.string() + ": " + e.what(), ErrorCode::plugin_filter);
    }
}

double default_tolerance(host::Host& host, const std::filesystem::path& plugin) {
    const host::HostScope bound(host);
    return FileSession(host, plugin, std::nullopt).tolerance();
}

}  // namespace torvel
