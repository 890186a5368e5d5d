#include <xsi_context.h>
#include <xsi_customproperty.h>
#include <xsi_filter.h>
#include <xsi_pluginregistrar.h>

#include <algorithm>

#include "resolve.h"

namespace XSI {

using namespace torvel::host;

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
    const_cast<Object*>(obj)->name = in_name.str();
    return CStatus::OK;
}

CString SIObject::GetFullName() const { return IsValid() ? wide(host().full_name(m_ref)) : CString(); }

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
            CRef::Handle h = m_ref.GetHandle();
            h.classID = siParameterID;
            h.index = static_cast<ULONG>(i);
            return Parameter(CRef(h)).PutValue(in_value, in_time);
        }
    }
    return CStatus::MemberNotFound;
}

CRefArray ProjectItem::GetParameters() const {
    CRefArray out;
    auto* prop = checked_as<PropertyObject>(m_ref);
    if (!prop) return out;
    for (std::size_t i = 0; i < prop->params.size(); ++i) {
        CRef::Handle h = m_ref.GetHandle();
        h.classID = siParameterID;
        h.index = static_cast<ULONG>(i);
        out.Add(CRef(h));
    }
    return out;
}

Context::Context(const CRef& in_ref)
    : CBase(in_ref, in_ref.GetClassID() == siContextID || in_ref.GetClassID() == siPPGEventContextID) {}

CRef Context::GetSource() const {
    auto* ctx = checked_as<ContextObject>(m_ref);
    return ctx ? ctx->source : CRef();
}

CValue Context::GetAttribute(const CString& in_name) const {
    auto* ctx = checked_as<ContextObject>(m_ref);
    if (!ctx) return CValue();
    auto it = ctx->attributes.find(in_name.str());
    return it == ctx->attributes.end() ? CValue() : it->second;
}

CStatus Context::PutAttribute(const CString& in_name, const CValue& in_value) {
    auto* ctx = checked_as<ContextObject>(m_ref);
    if (!ctx || in_name.IsEmpty()) return CStatus::Fail;
    ctx->attributes[in_name.str()] = in_value;
    return CStatus::OK;
}

CRefArray Context::GetArrayAttribute(const CString& in_name) const {
    CRefArray out;
    auto* ctx = checked_as<ContextObject>(m_ref);
    if (!ctx) return out;
    auto it = ctx->array_attributes.find(in_name.str());
    if (it == ctx->array_attributes.end()) return out;
    out.Reserve(static_cast<LONG>(it->second.size()));
    for (const CRef& r : it->second) out.Add(r);
    return out;
}

CStatus Context::PutArrayAttribute(const CString& in_name, const CRefArray& in_value) {
    auto* ctx = checked_as<ContextObject>(m_ref);
    if (!ctx || in_name.IsEmpty()) return CStatus::Fail;
    std::vector<CRef>& dst = ctx->array_attributes[in_name.str()];
    dst.clear();
    for (LONG i = 0; i < in_value.GetCount(); ++i) dst.push_back(in_value[i]);
    return CStatus::OK;
}

PPGEventContext::PPGEventContext(const CRef& in_ref) : Context(in_ref, in_ref.GetClassID() == siPPGEventContextID) {}

PPGEventContext::PPGEvent PPGEventContext::GetEventID() const {
    auto* ctx = checked_as<ContextObject>(m_ref);
    return ctx ? static_cast<PPGEvent>(ctx->event_id) : siUndefined;
}

PluginItem::PluginItem(const CRef& in_ref)
    : SIObject(in_ref, in_ref.GetClassID() == siPluginItemID || in_ref.GetClassID() == siFilterID) {}

Filter::Filter(const CRef& in_ref) : SIObject(in_ref, in_ref.GetClassID() == siFilterID) {}

PluginRegistrar::PluginRegistrar(const CRef& in_ref) : SIObject(in_ref, in_ref.GetClassID() == siPluginRegistrarID) {}

namespace {

CStatus put_text(const CRef& ref, std::wstring RegistrarObject::*field, const CString& value) {
    auto* reg = checked_as<RegistrarObject>(ref);
    if (!reg) return CStatus::Fail;
    reg->*field = value.str();
    return CStatus::OK;
}

CString get_text(const CRef& ref, std::wstring RegistrarObject::*field) {
    auto* reg = checked_as<RegistrarObject>(ref);
    return reg ? wide(reg->*field) : CString();
}

PluginItem register_item(const CRef& ref, const CString& name, siClassID cls, LONG filter_type) {
    auto* reg = checked_as<RegistrarObject>(ref);
    if (!reg || name.IsEmpty()) return PluginItem();
    const bool taken = std::any_of(reg->items.begin(), reg->items.end(), [&](const CRef& item) {
        const Object* obj = host().store().find(item.GetHandle());
        return obj && obj->name == name.view();
    });
    if (taken) return PluginItem();
    auto& item = host().store().make<PluginItemObject>(cls, name.str());
    item.filter_type = filter_type;
    item.parent = reg->self;
    reg->items.push_back(item.self);
    return PluginItem(item.self);
}

}  // namespace

CStatus PluginRegistrar::PutAuthor(const CString& in_author) {
    return put_text(m_ref, &RegistrarObject::author, in_author);
}
CStatus PluginRegistrar::PutEmail(const CString& in_email) {
    return put_text(m_ref, &RegistrarObject::email, in_email);
}
CStatus PluginRegistrar::PutURL(const CString& in_url) { return put_text(m_ref, &RegistrarObject::url, in_url); }
CString PluginRegistrar::GetAuthor() const { return get_text(m_ref, &RegistrarObject::author); }
CString PluginRegistrar::GetEmail() const { return get_text(m_ref, &RegistrarObject::email); }
CString PluginRegistrar::GetURL() const { return get_text(m_ref, &RegistrarObject::url); }
CString PluginRegistrar::GetFilename() const { return get_text(m_ref, &RegistrarObject::filename); }

CStatus PluginRegistrar::PutVersion(LONG in_major, LONG in_minor) {
    auto* reg = checked_as<RegistrarObject>(m_ref);
    if (!reg) return CStatus::Fail;
    reg->version_major = in_major;
    reg->version_minor = in_minor;
    return CStatus::OK;
}

PluginItem PluginRegistrar::RegisterFilter(const CString& in_name, siFilterType in_type) {
    return register_item(m_ref, in_name, siFilterID, in_type);
}

PluginItem PluginRegistrar::RegisterProperty(const CString& in_name) {
    return register_item(m_ref, in_name, siPluginItemID, 0);
}

}  // namespace XSI
