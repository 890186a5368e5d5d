// Test plug-in: filter Tm_Filter and property Tm_Prop. Every callback logs "tm: <what>" so that the
// tests can follow the order in which the host calls them.
#include <stdexcept>

#include <xsi_application.h>
#include <xsi_context.h>
#include <xsi_customproperty.h>
#include <xsi_filter.h>
#include <xsi_pluginregistrar.h>

using namespace XSI;

namespace {

void say(const CString& what) { Application().LogMessage(L"tm: " + what, siInfoMsg); }

CString source_name(const CRef& in_context) { return SIObject(Context(in_context).GetSource()).GetName(); }

}  // namespace

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
    in_reg.PutName(L"Tm Plug-in");
    in_reg.PutVersion(1, 0);
    in_reg.RegisterFilter(L"Tm_Filter", siFilterSubComponentPolygon);
    in_reg.RegisterProperty(L"Tm_Prop");
    say(L"XSILoadPlugin");
    return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus XSIUnloadPlugin(const PluginRegistrar& in_reg) {
    say(L"XSIUnloadPlugin " + in_reg.GetName());
    return CStatus::OK;
}

// Upper-case prefix: found only by the lookup that ignores the case of the item name.
XSIPLUGINCALLBACK CStatus TM_Filter_Init(const CRef& in_context) {
    say(L"Init " + source_name(in_context));
    return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus Tm_Filter_Unload(const CRef& in_context) {
    say(L"Unload " + source_name(in_context));
    return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus Tm_Filter_Reload(const CRef& in_context) {
    say(L"Reload " + source_name(in_context));
    return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus Tm_Filter_Term(const CRef& in_context) {
    say(L"Term " + source_name(in_context));
    return CStatus::OK;
}

// Keeps the first input reference and reports how many there were.
XSIPLUGINCALLBACK bool Tm_Filter_Subset(const CRef& in_context) {
    Context ctx(in_context);
    const CRefArray input = ctx.GetArrayAttribute(L"Input");
    CRefArray output;
    if (input.GetCount() > 0) output.Add(input[0]);
    ctx.PutArrayAttribute(L"Output", output);
    ctx.PutAttribute(L"Count", CValue(input.GetCount()));
    say(L"Subset " + CValue(input.GetCount()).GetAsText());
    return true;
}

// Echoes "Input" to "Output"; throws when the attribute "Throw" is true.
XSIPLUGINCALLBACK bool Tm_Filter_Match(const CRef& in_context) {
    Context ctx(in_context);
    if (static_cast<bool>(ctx.GetAttribute(L"Throw"))) throw std::runtime_error("Match was asked to throw");
    ctx.PutAttribute(L"Output", ctx.GetAttribute(L"Input"));
    return false;
}

// Neither of these is the Applicable callback: one has a different callback part, the other is not
// exported.
XSIPLUGINCALLBACK bool Tm_Filter_IsApplicable(const CRef&) {
    say(L"IsApplicable");
    return true;
}
extern "C" bool Tm_Filter_Applicable(const CRef&) {
    say(L"hidden Applicable");
    return true;
}

XSIPLUGINCALLBACK CStatus Tm_Prop_Define(CRef& in_context) {
    CustomProperty prop(Context(in_context).GetSource());
    Parameter param;
    prop.AddParameter(L"size", CValue::siDouble, siPersistable, L"Size", L"", CValue(1.5), param);
    say(L"Define " + prop.GetName());
    return CStatus::OK;
}

// All lower-case prefix.
XSIPLUGINCALLBACK CStatus tm_prop_PPGEvent(CRef& in_context) {
    PPGEventContext ctx(in_context);
    say(L"PPGEvent " + CValue(static_cast<LONG>(ctx.GetEventID())).GetAsText());
    ctx.PutAttribute(L"Refresh", CValue(true));
    return CStatus::OK;
}
