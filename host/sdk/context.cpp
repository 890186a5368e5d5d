#include <xsi_context.h>

#include "link.h"

namespace XSI {

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

}  // namespace XSI
