// CustomProperty: a property of a registered kind, holding typed parameters. Parameter: one of them.
#pragma once

#include "xsi_siobject.h"

namespace XSI {

class PPGLayout;

class SICPPSDKIMPEXP Parameter : public SIObject {
public:
    Parameter() = default;
    Parameter(const CRef& in_ref);

    CString GetScriptName() const;
    CString GetDescription() const;
    CValue::DataType GetValueType() const;
    LONG GetCapabilities() const;
    CValue GetDefault() const;
    // Limits; empty values when the parameter has none.
    CValue GetMin() const;
    CValue GetMax() const;
    CValue GetSuggestedMin() const;
    CValue GetSuggestedMax() const;

    // The time is accepted and ignored.
    CValue GetValue(double in_time = DBL_MAX) const;
    // Converts to the parameter's type; a value outside the hard range, or one that cannot be
    // converted, is refused and the value stays as it was.
    CStatus PutValue(const CValue& in_value, double in_time = DBL_MAX);
};

class SICPPSDKIMPEXP CustomProperty : public ProjectItem {
public:
    CustomProperty() = default;
    CustomProperty(const CRef& in_ref);

    // Adds a parameter with a hard range and a suggested range; `io_param` is bound to it.
    CStatus AddParameter(const CString& in_scriptName, CValue::DataType in_type, LONG in_capabilities,
                         const CString& in_name, const CString& in_description, const CValue& in_default,
                         const CValue& in_min, const CValue& in_max, const CValue& in_suggestedMin,
                         const CValue& in_suggestedMax, Parameter& io_param);
    // Adds a parameter without limits; `io_param` is bound to it.
    CStatus AddParameter(const CString& in_scriptName, CValue::DataType in_type, LONG in_capabilities,
                         const CString& in_name, const CString& in_description, const CValue& in_default,
                         Parameter& io_param);

    PPGLayout GetPPGLayout() const;
};

}  // namespace XSI
