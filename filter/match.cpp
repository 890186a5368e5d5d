// The filter's Match and Applicable callbacks: neither tests anything; both log a line and answer
// false. Match hands "Input" back as "Output" in both the single-value and the array form.
#include <xsi_application.h>
#include <xsi_context.h>

#include "names.h"
#include "poly_torvel_filer.h"

using namespace XSI;

XSIPLUGINCALLBACK bool Vn_TorvelFilter_Match(const CRef& in_context) {
    Context ctxt(in_context);
    Application app;
    const CRefArray input = ctxt.GetArrayAttribute(L"Input");

    // The line is the text of an array holding one empty slot when the context has a source and none
    // otherwise, followed by "_Subset".
    const LONG source_slots = static_cast<bool>(ctxt.GetSource()) ? 1 : 0;
    const CRefArray source_array(source_slots);
    app.LogMessage(source_array.GetAsText() + L"_Subset", torvel_filter::kLogSeverity);

    const CRef input_ref = ctxt.GetAttribute(L"Input");
    ctxt.PutAttribute(L"Output", CValue(input_ref));
    ctxt.PutArrayAttribute(L"Output", input);
    return false;
}

XSIPLUGINCALLBACK bool Vn_TorvelFilter_Applicable(const CRef& in_context) {
    [[maybe_unused]] Context ctxt(in_context);
    Application app;
    app.LogMessage(L"Vn_TorvelFilter_IsApplicable.", torvel_filter::kLogSeverity);
    return false;
}
