#include <xsi_customproperty.h>
#include <xsi_ppglayout.h>

#include <cmath>

#include "link.h"

namespace XSI {

namespace {

ParamDef* param_of(const CRef& ref) {
    auto* prop = checked_as<PropertyObject>(ref);
    return prop && ref.GetHandle().classID == siParameterID ? &prop->params[ref.GetHandle().index] : nullptr;
}

// `value` as a value of `type`; false when it cannot be one (a non-numeric text for a number, a
// reference for anything, a NaN).
bool convert(const CValue& value, CValue::DataType type, CValue& out) {
    if (value.GetType() == CValue::siRef) return false;
    switch (type) {
        case CValue::siDouble:
        case CValue::siInt4: {
            double d = value;
            if (value.GetType() == CValue::siString && !detail::parse_decimal(static_cast<CString>(value).view(), d))
                return false;
            if (std::isnan(d)) return false;
            if (type == CValue::siDouble)
                out = CValue(d);
            else
                out = CValue(static_cast<LONG>(value));
            return true;
        }
        case CValue::siBool: out = CValue(static_cast<bool>(value)); return true;
        case CValue::siString: out = CValue(value.GetAsText()); return true;
        default: out = value; return true;
    }
}

bool in_range(const ParamDef& p, const CValue& v) {
    if (p.type != CValue::siDouble && p.type != CValue::siInt4) return true;
    const double d = v;
    if (!p.min.IsEmpty() && d < static_cast<double>(p.min)) return false;
    if (!p.max.IsEmpty() && d > static_cast<double>(p.max)) return false;
    return true;
}

CStatus add_parameter(const CRef& ref, const CString& script_name, CValue::DataType type, LONG caps,
                      const CString& name, const CString& description, const CValue& def, const CValue* limits,
                      Parameter& io_param) {
    io_param = Parameter();
    auto* prop = checked_as<PropertyObject>(ref);
    if (!prop || ref.GetHandle().classID != siCustomPropertyID) return CStatus::Fail;
    if (script_name.IsEmpty() || prop->find_param(script_name.view())) return CStatus::InvalidArgument;
    ParamDef p;
    p.script_name = script_name.str();
    p.name = name.str();
    p.description = description.str();
    p.type = type;
    p.capabilities = caps;
    if (!convert(def, type, p.default_value) && !def.IsEmpty()) return CStatus::InvalidArgument;
    if (limits) {
        CValue* dst[] = {&p.min, &p.max, &p.suggested_min, &p.suggested_max};
        for (int i = 0; i < 4; ++i)
            if (!limits[i].IsEmpty() && !convert(limits[i], type, *dst[i])) return CStatus::InvalidArgument;
    }
    p.value = p.default_value;
    prop->params.push_back(std::move(p));
    io_param = Parameter(sub_ref(ref, siParameterID, static_cast<std::uint32_t>(prop->params.size() - 1)));
    return CStatus::OK;
}

}  // namespace

CustomProperty::CustomProperty(const CRef& in_ref) : ProjectItem(in_ref, in_ref.GetClassID() == siCustomPropertyID) {}

CStatus CustomProperty::AddParameter(const CString& in_scriptName, CValue::DataType in_type, LONG in_capabilities,
                                     const CString& in_name, const CString& in_description, const CValue& in_default,
                                     const CValue& in_min, const CValue& in_max, const CValue& in_suggestedMin,
                                     const CValue& in_suggestedMax, Parameter& io_param) {
    const CValue limits[] = {in_min, in_max, in_suggestedMin, in_suggestedMax};
    return add_parameter(m_ref, in_scriptName, in_type, in_capabilities, in_name, in_description, in_default, limits,
                         io_param);
}

CStatus CustomProperty::AddParameter(const CString& in_scriptName, CValue::DataType in_type, LONG in_capabilities,
                                     const CString& in_name, const CString& in_description, const CValue& in_default,
                                     Parameter& io_param) {
    return add_parameter(m_ref, in_scriptName, in_type, in_capabilities, in_name, in_description, in_default, nullptr,
                         io_param);
}

PPGLayout CustomProperty::GetPPGLayout() const { return IsValid() ? PPGLayout(layout_ref(m_ref)) : PPGLayout(); }

Parameter::Parameter(const CRef& in_ref) : SIObject(in_ref, in_ref.GetClassID() == siParameterID) {}

CString Parameter::GetScriptName() const {
    auto* p = param_of(m_ref);
    return p ? wide(p->script_name) : CString();
}
CString Parameter::GetDescription() const {
    auto* p = param_of(m_ref);
    return p ? wide(p->description) : CString();
}
CValue::DataType Parameter::GetValueType() const {
    auto* p = param_of(m_ref);
    return p ? p->type : CValue::siEmpty;
}
LONG Parameter::GetCapabilities() const {
    auto* p = param_of(m_ref);
    return p ? p->capabilities : 0;
}
CValue Parameter::GetDefault() const {
    auto* p = param_of(m_ref);
    return p ? p->default_value : CValue();
}
CValue Parameter::GetMin() const {
    auto* p = param_of(m_ref);
    return p ? p->min : CValue();
}
CValue Parameter::GetMax() const {
    auto* p = param_of(m_ref);
    return p ? p->max : CValue();
}
CValue Parameter::GetSuggestedMin() const {
    auto* p = param_of(m_ref);
    return p ? p->suggested_min : CValue();
}
CValue Parameter::GetSuggestedMax() const {
    auto* p = param_of(m_ref);
    return p ? p->suggested_max : CValue();
}
CValue Parameter::GetValue(double) const {
    auto* p = param_of(m_ref);
    return p ? p->value : CValue();
}

CStatus Parameter::PutValue(const CValue& in_value, double) {
    ParamDef* p = param_of(m_ref);
    if (!p) return CStatus::Fail;
    CValue v;
    if (!convert(in_value, p->type, v)) return CStatus::InvalidArgument;
    if (!in_range(*p, v)) return CStatus::OutOfRange;
    p->value = v;
    return CStatus::OK;
}

}  // namespace XSI
