// libFuzzer target: late-bound calls with arbitrary names and argument arrays on arbitrary host
// objects (selection items, subcomponents, collections, components, properties, stale and empty
// references). Every call must return a status; results feed back into the pool of objects.
#include <fuzzer/FuzzedDataProvider.h>

#include <xsi_comapihandler.h>
#include <xsi_customproperty.h>
#include <xsi_geometry.h>

#include <vector>

#include "host.h"
#include "text.h"

using namespace XSI;
using namespace torvel::host;

namespace {

// One host for the fuzzing process, bound for all of it.
Host& host() {
    static Host h;
    static const HostScope bound(h);
    return h;
}

const wchar_t* const k_names[] = {
    L"SubComponent", L"ComponentCollection", L"Count", L"Item", L"RemoveElement", L"Name", L"FullName",
    L"Object",       L"Parent3DObject",      L""};

CValue make_value(FuzzedDataProvider& in, const std::vector<CRef>& pool) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0: return CValue(in.ConsumeIntegral<LONG>());
        case 1: return CValue(in.ConsumeFloatingPoint<double>());
        case 2: return CValue(in.ConsumeBool());
        case 3: return CValue(CString(torvel::from_utf8(in.ConsumeRandomLengthString(16))));
        case 4: return CValue(pool[in.ConsumeIntegralInRange<std::size_t>(0, pool.size() - 1)]);
        default: return CValue();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    host().new_scene();
    const CRef mesh = host().add_mesh(L"m", {.positions = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 0, 0, 2, 1, 0.5},
                                             .offsets = {0, 4, 8},
                                             .indices = {0, 1, 2, 3, 1, 4, 5, 2}});
    std::vector<CRef> pool = {CRef(),
                              mesh,
                              host().make_component_item(mesh, siPolygonFaceID, {}),
                              host().make_component_item(mesh, siVertexID, {}),
                              host().make_object_item(mesh),
                              sub_ref(mesh, siPolygonFaceID, 1),
                              sub_ref(mesh, siEdgeID, 3),
                              sub_ref(mesh, siPolygonFaceID, 9),
                              host().scene_root(),
                              host().application_ref()};
    host().store().open_scope();
    for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
        CComAPIHandler handle{CValue(pool[in.ConsumeIntegralInRange<std::size_t>(0, pool.size() - 1)])};
        const CString name = in.ConsumeBool() ? CString(k_names[in.ConsumeIntegralInRange<std::size_t>(0, 9)])
                                              : CString(torvel::from_utf8(in.ConsumeRandomLengthString(24)));
        CValueArray args;
        for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) args.Add(make_value(in, pool));
        CValue result;
        if (in.ConsumeBool())
            result = handle.GetProperty(name);
        else
            handle.Invoke(name, in.ConsumeIntegralInRange<LONG>(-1, 5), result, args);
        const CRef ref = result;
        if (ref.IsValid() && pool.size() < 64) pool.push_back(ref);
        // Exercise the wrappers on whatever came back.
        (void)PolygonFace(ref).GetEdges().GetCount();
        (void)Vertex(ref).GetPosition();
        (void)ref.GetAsText();
        if (in.ConsumeBool() && pool.size() > 1) {
            host().store().close_scope();  // collections made so far go stale
            host().store().open_scope();
        }
    }
    host().store().close_scope();
    return 0;
}
