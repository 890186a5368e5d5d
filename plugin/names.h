// Names and fixed values shared by the plug-in's sources.
#pragma once

#include <xsi_decl.h>

#include "poly_torvel_filer/items.h"

namespace torvel_filter {

// Registered item names, as published to hosts.
using poly_torvel_filer::kFilterName;
using poly_torvel_filer::kPropertyName;

// Severity of every message the plug-in logs.
inline constexpr XSI::siSeverityType kLogSeverity = XSI::siInfoMsg;

// The language of the host script lines the plug-in runs.
inline constexpr const wchar_t* kScriptLanguage = L"VBScript";

}  // namespace torvel_filter
