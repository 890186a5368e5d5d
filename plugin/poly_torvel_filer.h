// The functions poly_torvel_filer.so exports to the host, and nothing else. The host finds the item
// callbacks by name: the registered item name, an underscore and the callback name. Every CStatus
// callback returns CStatus::OK on every path; Match, Applicable and Subset always return false.
// None of them keeps state between calls or throws.
#pragma once

#include <xsi_decl.h>
#include <xsi_pluginregistrar.h>
#include <xsi_ref.h>
#include <xsi_status.h>

// Library entry points.
XSIPLUGINCALLBACK XSI::CStatus XSILoadPlugin(XSI::PluginRegistrar& in_reg);
XSIPLUGINCALLBACK XSI::CStatus XSIUnloadPlugin(const XSI::PluginRegistrar& in_reg);

// Filter item "Vn_TorvelFilter": lifecycle (plugin/filter_lifecycle.cpp).
XSIPLUGINCALLBACK XSI::CStatus Vn_TorvelFilter_Init(const XSI::CRef& in_context);
XSIPLUGINCALLBACK XSI::CStatus Vn_TorvelFilter_Unload(const XSI::CRef& in_context);
XSIPLUGINCALLBACK XSI::CStatus Vn_TorvelFilter_Reload(const XSI::CRef& in_context);
XSIPLUGINCALLBACK XSI::CStatus Vn_TorvelFilter_Term(const XSI::CRef& in_context);

// Filter item "Vn_TorvelFilter": selection tests (filter/).
XSIPLUGINCALLBACK bool Vn_TorvelFilter_Match(const XSI::CRef& in_context);
XSIPLUGINCALLBACK bool Vn_TorvelFilter_Applicable(const XSI::CRef& in_context);
XSIPLUGINCALLBACK bool Vn_TorvelFilter_Subset(const XSI::CRef& in_context);

// Property item "Vn_TorvelFilter_Prop" (property/). The page-event callback is exported with the
// upper-case "VN_" prefix; the host matches the item prefix regardless of case.
XSIPLUGINCALLBACK XSI::CStatus Vn_TorvelFilter_Prop_Define(XSI::CRef& in_context);
XSIPLUGINCALLBACK XSI::CStatus Vn_TorvelFilter_Prop_DefineLayout(XSI::CRef& in_context);
XSIPLUGINCALLBACK XSI::CStatus VN_TorvelFilter_Prop_PPGEvent(XSI::CRef& in_context);
