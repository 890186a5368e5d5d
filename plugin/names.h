// Names and fixed values shared by the plug-in's sources.
#pragma once

#include <xsi_decl.h>

namespace torvel_filter {

// Registered item names.
inline constexpr const wchar_t* kFilterName = L"Vn_TorvelFilter";
inline constexpr const wchar_t* kPropertyName = L"Vn_TorvelFilter_Prop";

// Severity of every message the plug-in logs.
inline constexpr XSI::siSeverityType kLogSeverity = XSI::siInfoMsg;

// The language of the host script lines the plug-in runs.
inline constexpr const wchar_t* kScriptLanguage = L"VBScript";

}  // namespace torvel_filter
