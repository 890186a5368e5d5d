// Test library: exports callbacks but no XSILoadPlugin, so it is not a plug-in.
#include <xsi_context.h>
#include <xsi_pluginregistrar.h>

using namespace XSI;

XSIPLUGINCALLBACK CStatus XSIUnloadPlugin(const PluginRegistrar&) { return CStatus::OK; }
XSIPLUGINCALLBACK CStatus Tm_NoEntry_Init(const CRef&) { return CStatus::OK; }
