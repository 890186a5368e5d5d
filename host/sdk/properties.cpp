#include <xsi_customproperty.h>
#include <xsi_ppglayout.h>

#include <cmath>

#include "resolve.h"

namespace XSI {

using namespace torvel::host;

namespace {

ParamDef* param_of(const CRef& ref) {
    auto* prop = checked_as<PropertyObject>(ref);
    return prop && ref.GetHandle().classID == siParameterID ? &prop->params[ref.GetHandle().index] : nullptr;
}

LayoutEntry* entry_of(const CRef& ref) {
    auto* prop = checked_as<PropertyObject>(ref);
    return prop && ref.GetHandle().classID == siPPGItemID ? &prop->layout[ref.GetHandle().index] : nullptr;
}

CRef sub_ref(const CRef& owner, siClassID cls, std::size_t index) {
    CRef::Handle h = owner.GetHandle();
    h.classID = static_cast<ULONG>(cls);
    h.index = static_cast<ULONG>(index);
    return CRef(h);
}

// `value` as a value of `type`; false when it cannot be one (a non-numeric text for a number, a
// reference for anything, a NaN).
bool convert(const CValue& value, CValue::DataType type, CValue& out) {
    if (value.GetType() == CValue::siRef) return false;
    switch (type) {
        case CValue::siDouble:
        case CValue::siInt4: {
            double d = value;
            if (value.GetType() == CValue::siString && !parse_decimal(static_cast<CString>(value).view(), d))
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
    io_param = Parameter(sub_ref(ref, siParameterID, prop->params.size() - 1));
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

PPGLayout::PPGLayout(const CRef& in_ref) : CBase(in_ref, in_ref.GetClassID() == siPPGLayoutID) {}

CStatus PPGLayout::Clear() {
    auto* prop = checked_as<PropertyObject>(m_ref);
    if (!prop || !IsValid()) return CStatus::Fail;
    prop->layout.clear();
    return CStatus::OK;
}

namespace {

PPGItem add_entry(const CRef& layout, LayoutEntry entry) {
    auto* prop = checked_as<PropertyObject>(layout);
    if (!prop || layout.GetHandle().classID != siPPGLayoutID) return PPGItem();
    prop->layout.push_back(std::move(entry));
    return PPGItem(sub_ref(layout, siPPGItemID, prop->layout.size() - 1));
}

}  // namespace

PPGItem PPGLayout::AddGroup(const CString& in_label, bool in_border, LONG in_width) {
    LayoutEntry e;
    e.kind = LayoutEntry::Kind::group;
    e.label = in_label.str();
    e.border = in_border;
    e.width = in_width;
    return add_entry(m_ref, std::move(e));
}

PPGItem PPGLayout::AddItem(const CString& in_scriptName, const CString& in_label, const CString& in_controlType) {
    LayoutEntry e;
    e.kind = LayoutEntry::Kind::item;
    e.name = in_scriptName.str();
    e.label = in_label.str();
    e.control = in_controlType.str();
    return add_entry(m_ref, std::move(e));
}

PPGItem PPGLayout::EndGroup() {
    LayoutEntry e;
    e.kind = LayoutEntry::Kind::end_group;
    return add_entry(m_ref, std::move(e));
}

LONG PPGLayout::GetCount() const {
    auto* prop = checked_as<PropertyObject>(m_ref);
    return prop && IsValid() ? static_cast<LONG>(prop->layout.size()) : 0;
}

PPGItem PPGLayout::GetItem(LONG in_index) const {
    if (in_index < 0 || in_index >= GetCount()) return PPGItem();
    return PPGItem(sub_ref(m_ref, siPPGItemID, static_cast<std::size_t>(in_index)));
}

PPGItem::PPGItem(const CRef& in_ref) : CBase(in_ref, in_ref.GetClassID() == siPPGItemID) {}

CString PPGItem::GetName() const {
    auto* e = entry_of(m_ref);
    return e ? wide(e->name) : CString();
}
CString PPGItem::GetLabel() const {
    auto* e = entry_of(m_ref);
    return e ? wide(e->label) : CString();
}
CString PPGItem::GetType() const {
    auto* e = entry_of(m_ref);
    return e ? wide(e->control) : CString();
}
LONG PPGItem::GetLabelPercentage() const {
    auto* e = entry_of(m_ref);
    return e ? e->label_percentage : 0;
}
LONG PPGItem::GetLabelMinPixels() const {
    auto* e = entry_of(m_ref);
    return e ? e->label_min_pixels : 0;
}

CStatus PPGItem::PutLabelPercentage(LONG in_percent) {
    LayoutEntry* e = entry_of(m_ref);
    if (!e || e->kind != LayoutEntry::Kind::item || in_percent < 0 || in_percent > 100) return CStatus::Fail;
    e->label_percentage = in_percent;
    return CStatus::OK;
}

CStatus PPGItem::PutLabelMinPixels(LONG in_pixels) {
    LayoutEntry* e = entry_of(m_ref);
    if (!e || e->kind != LayoutEntry::Kind::item || in_pixels < 0) return CStatus::Fail;
    e->label_min_pixels = in_pixels;
    return CStatus::OK;
}

}  // namespace XSI
