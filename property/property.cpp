// The settings property "Vn_TorvelFilter_Prop": its two parameters, its page, and its page events.
#include <cfloat>

#include <xsi_application.h>
#include <xsi_context.h>
#include <xsi_customproperty.h>
#include <xsi_ppglayout.h>

#include "names.h"
#include "poly_torvel_filer.h"

using namespace XSI;

XSIPLUGINCALLBACK CStatus Vn_TorvelFilter_Prop_Define(CRef& in_context) {
    Context ctxt(in_context);
    CustomProperty prop(ctxt.GetSource());
    Parameter param;

    // "def": the filter's tolerance angle in degrees; hard and suggested ranges are both 0..90.
    prop.AddParameter(L"def", CValue::siDouble, siPersistable, L"Tolerance", L"Tolerance", CValue(45.0), CValue(0.0),
                      CValue(90.0), CValue(0.0), CValue(90.0), param);
    // "ShowInfo": a fixed line the page shows as static text; `param` now refers to it.
    prop.AddParameter(L"ShowInfo", CValue::siString, siPersistable, L"", L"", CValue(CString(L"")), param);
    param.PutValue(CValue(CString(L"This is TorvelFilter Property") + L"\r\n"), DBL_MAX);
    return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus Vn_TorvelFilter_Prop_DefineLayout(CRef& in_context) {
    Context ctxt(in_context);
    PPGLayout layout(ctxt.GetSource());

    // Cleared first, so that every call rebuilds the page instead of appending to it.
    layout.Clear();
    layout.AddGroup(L"FilterValue", true, 0);
    PPGItem item = layout.AddItem(L"def", L"", L"");
    item.PutLabelPercentage(1);
    item.PutLabelMinPixels(20);
    item = layout.AddItem(L"ShowInfo", L"", siControlStatic);
    layout.EndGroup();
    return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus VN_TorvelFilter_Prop_PPGEvent(CRef& in_context) {
    Application app;
    PPGEventContext ctxt(in_context);

    switch (ctxt.GetEventID()) {
        case PPGEventContext::siOnInit: {
            CustomProperty prop(ctxt.GetSource());
            app.LogMessage(L"OnInit called for " + prop.GetFullName(), torvel_filter::kLogSeverity);
            ctxt.PutAttribute(L"Refresh", CValue(true));
            break;
        }
        case PPGEventContext::siButtonClicked: app.LogMessage(L"Buttonclicked ", torvel_filter::kLogSeverity); break;
        case PPGEventContext::siTabChange: {
            const CValue tab = ctxt.GetAttribute(L"Tab");
            app.LogMessage(L"Tab changed to:" + tab.GetAsText(), torvel_filter::kLogSeverity);
            break;
        }
        default:
            // Closing the page, parameter changes and unknown events need nothing from the plug-in.
            break;
    }
    return CStatus::OK;
}
