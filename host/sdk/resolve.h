// How the SDK classes reach the host: a reference is checked against the store once per call.
#pragma once

#include "host.h"
#include "objects.h"

namespace torvel::host {

// The object behind `ref` when the reference is valid for its class id (for components: the mesh
// object, with the index in range), else null.
const Object* checked(const CRef& ref);

template <class T>
T* checked_as(const CRef& ref) {
    const Object* obj = checked(ref);
    return obj && T::accepts(obj->class_id) ? static_cast<T*>(const_cast<Object*>(obj)) : nullptr;
}

// A decimal number, surrounding blanks allowed; false for anything else.
bool parse_decimal(std::wstring_view text, double& out);

inline XSI::CString wide(std::wstring s) { return XSI::CString(std::move(s)); }

}  // namespace torvel::host
