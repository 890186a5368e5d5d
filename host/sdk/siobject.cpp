#include <xsi_customproperty.h>
#include <xsi_siobject.h>

#include "link.h"

namespace XSI {

namespace {

bool is_object(siClassID c) {
    switch (c) {
        case siUnknownClassID:
        case siPPGLayoutID:
        case siPPGItemID:
        case siContextID:
        case siPPGEventContextID: return false;
        default: return true;
    }
}

bool has_parameters(siClassID c) { return c == siCustomPropertyID || c == siX3DObjectID || c == siModelID; }

}  // namespace

SIObject::SIObject(const CRef& in_ref) : CBase(in_ref, is_object(in_ref.GetClassID())) {}

CString SIObject::GetName() const {
    const CRef::Handle& h = m_ref.GetHandle();
    if (h.classID == siParameterID) {
        auto* prop = checked_as<PropertyObject>(m_ref);
        return prop ? wide(prop->params[h.index].name) : CString();
    }
    const Object* obj = checked(m_ref);
    if (!obj) return CString();
    if (h.classID == siPolygonFaceID || h.classID == siEdgeID || h.classID == siVertexID)
        return CString(std::to_wstring(h.index));
    return wide(obj->name);
}

CStatus SIObject::PutName(const CString& in_name) {
    const Object* obj = checked(m_ref);
    if (!obj || m_ref.GetHandle().classID != static_cast<ULONG>(obj->class_id)) return CStatus::Fail;
    return detail::bound_host()->rename(m_ref, in_name.str()) ? CStatus::OK : CStatus::Fail;
}

CString SIObject::GetFullName() const { return IsValid() ? wide(detail::bound_host()->full_name(m_ref)) : CString(); }

CRef SIObject::GetParent() const {
    const CRef::Handle& h = m_ref.GetHandle();
    const Object* obj = checked(m_ref);
    if (!obj) return CRef();
    if (h.classID != static_cast<ULONG>(obj->class_id)) return obj->self;  // a component or parameter
    return obj->parent;
}

ProjectItem::ProjectItem(const CRef& in_ref) : SIObject(in_ref, has_parameters(in_ref.GetClassID())) {}

CValue ProjectItem::GetParameterValue(const CString& in_scriptName, double) const {
    auto* prop = checked_as<PropertyObject>(m_ref);
    const ParamDef* p = prop ? prop->find_param(in_scriptName.view()) : nullptr;
    return p ? p->value : CValue();
}

CStatus ProjectItem::PutParameterValue(const CString& in_scriptName, const CValue& in_value, double in_time) {
    auto* prop = checked_as<PropertyObject>(m_ref);
    if (!prop) return CStatus::Fail;
    for (std::size_t i = 0; i < prop->params.size(); ++i) {
        if (prop->params[i].script_name == in_scriptName.view()) {
            return Parameter(sub_ref(m_ref, siParameterID, static_cast<std::uint32_t>(i))).PutValue(in_value, in_time);
        }
    }
    return CStatus::MemberNotFound;
}

CRefArray ProjectItem::GetParameters() const {
    CRefArray out;
    auto* prop = checked_as<PropertyObject>(m_ref);
    if (!prop) return out;
    for (std::size_t i = 0; i < prop->params.size(); ++i) {
        out.Add(sub_ref(m_ref, siParameterID, static_cast<std::uint32_t>(i)));
    }
    return out;
}

}  // namespace XSI
