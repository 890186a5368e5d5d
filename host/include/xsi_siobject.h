// Object wrappers. Each wrapper is made from a CRef; made from an empty reference or from one of a kind
// it does not wrap, it is invalid: IsValid() is false, its operations return a failing CStatus or an
// empty value, and none of them throws.
#pragma once

#include <cfloat>

#include "xsi_value.h"

namespace XSI {

class SICPPSDKIMPEXP CBase {
public:
    bool IsValid() const { return m_ref.IsValid(); }
    siClassID GetClassID() const { return m_ref.GetClassID(); }
    bool IsA(siClassID in_id) const { return GetClassID() == in_id; }
    CRef GetRef() const { return m_ref; }
    operator CRef() const { return m_ref; }

protected:
    CBase() = default;
    // Binds to `in_ref` when `in_accepted(class id)` holds, else stays empty.
    CBase(const CRef& in_ref, bool in_accepted) : m_ref(in_accepted ? in_ref : CRef()) {}
    CRef m_ref;
};

class SICPPSDKIMPEXP SIObject : public CBase {
public:
    SIObject() = default;
    SIObject(const CRef& in_ref);

    CString GetName() const;
    // A scene object's new name is made unique as the host makes names; an empty one fails there.
    CStatus PutName(const CString& in_name);
    // Dotted path from the scene root, e.g. "Scene_Root.Vn_TorvelFilter_Prop".
    CString GetFullName() const;
    CRef GetParent() const;

protected:
    SIObject(const CRef& in_ref, bool in_accepted) : CBase(in_ref, in_accepted) {}
};

// An object that carries parameters.
class SICPPSDKIMPEXP ProjectItem : public SIObject {
public:
    ProjectItem() = default;
    ProjectItem(const CRef& in_ref);

    // The value of the parameter with this script name; empty when there is none. The time is
    // accepted and ignored (parameters are not animated in this host).
    CValue GetParameterValue(const CString& in_scriptName, double in_time = DBL_MAX) const;
    CStatus PutParameterValue(const CString& in_scriptName, const CValue& in_value, double in_time = DBL_MAX);
    // The object's parameters, in the order they were added.
    CRefArray GetParameters() const;

protected:
    ProjectItem(const CRef& in_ref, bool in_accepted) : SIObject(in_ref, in_accepted) {}
};

}  // namespace XSI
