// Test plug-in: registers Tm_Second and also "tm_filter", a name tm_filter holds when loaded first.
#include <xsi_application.h>
#include <xsi_context.h>
#include <xsi_filter.h>
#include <xsi_pluginregistrar.h>

using namespace XSI;

namespace {

void say(const CString& what) { Application().LogMessage(L"second: " + what, siInfoMsg); }

}  // namespace

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
    in_reg.PutName(L"Second Plug-in");
    in_reg.RegisterFilter(L"Tm_Second", siFilterObject);
    in_reg.RegisterFilter(L"tm_filter", siFilterObject);
    return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus Tm_Second_Init(const CRef& in_context) {
    say(L"Init " + SIObject(Context(in_context).GetSource()).GetName());
    return CStatus::OK;
}

// Two case variants and no exact match: the lookup cannot choose, so Term is not bound.
XSIPLUGINCALLBACK CStatus TM_SECOND_Term(const CRef&) {
    say(L"TM_SECOND_Term");
    return CStatus::OK;
}
XSIPLUGINCALLBACK CStatus tm_second_Term(const CRef&) {
    say(L"tm_second_Term");
    return CStatus::OK;
}

// The callback of the refused item: must never be called.
XSIPLUGINCALLBACK CStatus tm_filter_Init(const CRef&) {
    say(L"refused Init");
    return CStatus::OK;
}
