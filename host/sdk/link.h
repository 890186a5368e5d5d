// How the SDK's classes reach the host: through the host bound to the current scope (HostLink), with
// each reference checked against that host's store once per call.
#pragma once

#include <string>
#include <string_view>

#include <xsi_string.h>

#include "objects.h"
#include "host_link.h"

namespace XSI::detail {

using torvel::host::Object;

// The bound host, or null when none is (a plug-in calling the SDK outside the host's calls).
XSI::detail::HostLink* bound_host();

// The object behind `ref` when a host is bound and the reference is valid for its class id (for
// components: the mesh object, with the index in range), else null.
const Object* checked(const CRef& ref);

template <class T>
T* checked_as(const CRef& ref) {
    const Object* obj = checked(ref);
    return obj && T::accepts(obj->class_id) ? static_cast<T*>(const_cast<Object*>(obj)) : nullptr;
}

// Makes an object in the bound host's store (see HostLink::adopt); the caller has checked that a host
// is bound.
template <class T, class... Args>
T& make_object(bool transient, Args&&... args) {
    return static_cast<T&>(bound_host()->adopt(std::make_unique<T>(std::forward<Args>(args)...), transient));
}

// A decimal number, surrounding blanks allowed; false for anything else.
bool parse_decimal(std::wstring_view text, double& out);

inline CString wide(std::wstring s) { return CString(std::move(s)); }

}  // namespace XSI::detail

namespace XSI {

// What the SDK's sources use unqualified.
using namespace torvel::host;
using detail::checked;
using detail::checked_as;
using detail::HostLink;
using detail::wide;

}  // namespace XSI
