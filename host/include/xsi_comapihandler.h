// CComAPIHandler: late-bound access to a host object's properties and methods by name.
#pragma once

#include "xsi_value.h"

namespace XSI {

class SICPPSDKIMPEXP CComAPIHandler {
public:
    enum CallType : LONG {
        Method = 1,
        PropertyGet = 2,
        PropertyPut = 4,
    };

    CComAPIHandler() = default;
    // A handle on the object the value holds; invalid unless the value holds a valid reference.
    CComAPIHandler(const CValue& in_value);

    bool IsValid() const { return m_ref.IsValid(); }
    CRef GetRef() const { return m_ref; }

    // The named property's value; empty for an unknown name or an invalid handle.
    CValue GetProperty(const CString& in_name) const;
    // Calls the named method (call type 0 or Method) or reads a property (PropertyGet); the result
    // goes to `io_return`, which is emptied on failure.
    CStatus Invoke(const CString& in_name, LONG in_callType, CValue& io_return,
                   const CValueArray& in_args = CValueArray());

private:
    CRef m_ref;
};

}  // namespace XSI
