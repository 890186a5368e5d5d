// The filter's Subset callback: reduces the first selected item's polygon subcomponent, in place, to
// the polygons the planarity test reports as non-planar under the tolerance of the settings property.
#include <cfloat>
#include <cmath>

#include <xsi_application.h>
#include <xsi_comapihandler.h>
#include <xsi_context.h>
#include <xsi_customproperty.h>
#include <xsi_geometry.h>

#include "mydic.h"
#include "names.h"
#include "planarity.h"
#include "poly_torvel_filer.h"

using namespace XSI;

namespace {

constexpr double kDegreesToRadians = 0.017453292519943295;
// Used as is, with no conversion, while the scene has no settings property.
constexpr double kMissingPropertyCosine = 0.5;

// Late-bound call types: "Item" is called as a method, "RemoveElement" with the plain call type.
constexpr LONG kCallItem = 1;
constexpr LONG kCallRemove = 0;

// The tolerance cosine from the settings property's "def" (degrees).
double tolerance_cosine(const MyDic& prop_lookup) {
    if (!prop_lookup.Exis()) {
        return kMissingPropertyCosine;
    }
    CustomProperty prop(prop_lookup.GetRef());
    const double degrees = static_cast<double>(prop.GetParameterValue(L"def", DBL_MAX));
    return std::cos(degrees * kDegreesToRadians);
}

// Removes from the first item's subcomponent every polygon the test does not report as non-planar,
// and returns how many components the subcomponent has left.
LONG reduce_first_item(const CRef& in_item, double in_tolerance_cos) {
    const CValue item_value(in_item);
    CComAPIHandler item(item_value);
    CComAPIHandler subcomponent(item.GetProperty(L"SubComponent"));
    CComAPIHandler collection(subcomponent.GetProperty(L"ComponentCollection"));
    const LONG count = collection.GetProperty(L"Count");

    // Collect every reference before removing anything: removals change the live collection, while
    // the test must see each polygon present at the start exactly once, in collection order.
    CRefArray components(0);
    CRef last;
    for (LONG i = 0; i < count; ++i) {
        CValueArray args(1);
        args[0] = CValue(i);
        CValue element;
        collection.Invoke(L"Item", kCallItem, element, args);
        last = element;
        components.Add(last);
    }

    // A collection's components are all of one kind; the last one tells which.
    if (last.GetClassID() == siPolygonFaceID) {
        for (LONG j = 0; j < count; ++j) {
            PolygonFace face(components[j]);
            if (!Vn_TorvelFilter_check_nontorvel(face, in_tolerance_cos)) {
                // By geometry index, not collection position, so earlier removals do not shift it.
                CValueArray args(1);
                args[0] = CValue(face.GetIndex());
                CValue ignored;
                subcomponent.Invoke(L"RemoveElement", kCallRemove, ignored, args);
            }
        }
    }

    collection = CComAPIHandler(subcomponent.GetProperty(L"ComponentCollection"));
    return collection.GetProperty(L"Count");
}

}  // namespace

XSIPLUGINCALLBACK bool Vn_TorvelFilter_Subset(const CRef& in_context) {
    Context ctxt(in_context);
    const CRefArray input = ctxt.GetArrayAttribute(L"Input");
    // Looked up afresh on every call: the user may have changed "def", or removed the property.
    const MyDic prop_lookup{CString(torvel_filter::kPropertyName)};
    const double tolerance_cos = tolerance_cosine(prop_lookup);

    // An empty selection has no first item; it is reported like an item without components.
    const LONG remaining = input.GetCount() > 0 ? reduce_first_item(input[0], tolerance_cos) : 0;

    Application app;
    app.LogMessage(L" select count:" + CValue(remaining).GetAsText(), torvel_filter::kLogSeverity);

    // The first item now stands for its reduced subcomponent; the others pass through unchanged.
    if (remaining > 0) {
        ctxt.PutArrayAttribute(L"Output", input);
    } else {
        ctxt.PutArrayAttribute(L"Output", CRefArray(0));
    }
    return false;
}
