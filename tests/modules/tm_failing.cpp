// Test plug-in: registers a filter, then reports failure from XSILoadPlugin.
#include <xsi_pluginregistrar.h>

using namespace XSI;

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
    in_reg.PutName(L"Failing Plug-in");
    in_reg.RegisterFilter(L"Tm_Failing", siFilterObject);
    return CStatus::Fail;
}

XSIPLUGINCALLBACK CStatus Tm_Failing_Init(const CRef&) { return CStatus::OK; }
