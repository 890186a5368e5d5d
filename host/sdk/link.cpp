#include "link.h"

#include <charconv>

namespace XSI::detail {


namespace {
HostLink* g_bound = nullptr;
}  // namespace

HostLink* bound_host() { return g_bound; }

HostLink* exchange_host(HostLink* link) {
    HostLink* previous = g_bound;
    if (previous) previous->store().set_published(false);
    g_bound = link;
    if (link)
        link->store().set_published(true);
    else
        g_meshes = MeshTable{};
    return previous;
}

const Object* checked(const CRef& ref) {
    const CRef::Handle& h = ref.GetHandle();
    if (h.classID == XSI::siUnknownClassID) return nullptr;
    const XSI::detail::HostLink* link = bound_host();
    if (!link) return nullptr;
    const Object* obj = link->store().find(h);
    if (!obj) return nullptr;
    switch (static_cast<siClassID>(h.classID)) {
        case XSI::siPolygonFaceID:
        case XSI::siEdgeID:
        case XSI::siVertexID: {
            if (!MeshObject::accepts(obj->class_id)) return nullptr;
            const Mesh& m = static_cast<const MeshObject*>(obj)->mesh;
            const std::uint32_t count = h.classID == XSI::siPolygonFaceID ? m.polygon_count()
                                        : h.classID == XSI::siEdgeID      ? m.edge_count()
                                                                          : m.vertex_count();
            return h.index < count ? obj : nullptr;
        }
        case XSI::siParameterID:
            return PropertyObject::accepts(obj->class_id) &&
                           h.index < static_cast<const PropertyObject*>(obj)->params.size()
                       ? obj
                       : nullptr;
        case XSI::siPPGLayoutID: return PropertyObject::accepts(obj->class_id) ? obj : nullptr;
        case XSI::siPPGItemID:
            return PropertyObject::accepts(obj->class_id) &&
                           h.index < static_cast<const PropertyObject*>(obj)->layout.size()
                       ? obj
                       : nullptr;
        default: return obj->class_id == static_cast<siClassID>(h.classID) ? obj : nullptr;
    }
}

bool parse_decimal(std::wstring_view text, double& out) {
    std::string narrow;
    for (wchar_t c : text) {
        if (c > 0x7F) return false;
        narrow += static_cast<char>(c);
    }
    const auto first = narrow.find_first_not_of(" \t");
    const auto last = narrow.find_last_not_of(" \t");
    if (first == std::string::npos) return false;
    const char* b = narrow.data() + first;
    const char* e = narrow.data() + last + 1;
    if (*b == '+') ++b;
    auto [ptr, ec] = std::from_chars(b, e, out);
    return ec == std::errc() && ptr == e;
}

}  // namespace XSI::detail
