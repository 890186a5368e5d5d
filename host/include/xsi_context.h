// Context: what the host hands to a plug-in callback. PPGEventContext: the context of a property-page
// event. Both live only for the call they are made for.
#pragma once

#include "xsi_siobject.h"

namespace XSI {

class SICPPSDKIMPEXP Context : public CBase {
public:
    Context() = default;
    Context(const CRef& in_ref);

    // The object the callback is about: the filter item, the property being defined, its layout, ...
    CRef GetSource() const;
    // Attributes by name; an attribute never written is an empty value / an empty array.
    CValue GetAttribute(const CString& in_name) const;
    CStatus PutAttribute(const CString& in_name, const CValue& in_value);
    CRefArray GetArrayAttribute(const CString& in_name) const;
    CStatus PutArrayAttribute(const CString& in_name, const CRefArray& in_value);

protected:
    Context(const CRef& in_ref, bool in_accepted) : CBase(in_ref, in_accepted) {}
};

class SICPPSDKIMPEXP PPGEventContext : public Context {
public:
    enum PPGEvent : LONG {
        siUndefined = 0,
        siOnInit = 1,
        siOnClosed = 2,
        siParameterChange = 3,
        siButtonClicked = 4,
        siTabChange = 5,
    };

    PPGEventContext() = default;
    PPGEventContext(const CRef& in_ref);

    // siUndefined for an invalid context.
    PPGEvent GetEventID() const;
};

}  // namespace XSI
