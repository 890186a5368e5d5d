// What the plug-in publishes to the hosts that run it: the names it registers its items under and the
// parameter of its settings property that carries the tolerance. A host asks the filter for its verdict by
// this name (run_filter) and sets the tolerance through this parameter; nothing else of the plug-in is
// visible outside it.
#pragma once

namespace poly_torvel_filer {

// Registered item names.
inline constexpr const wchar_t* kFilterName = L"Vn_TorvelFilter";
inline constexpr const wchar_t* kPropertyName = L"Vn_TorvelFilter_Prop";

// The settings property's tolerance parameter (degrees) and its full name under the scene root.
inline constexpr const wchar_t* kToleranceName = L"def";
inline constexpr const wchar_t* kToleranceParameter = L"Vn_TorvelFilter_Prop.def";

}  // namespace poly_torvel_filer
