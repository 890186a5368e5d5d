#include <xsi_pluginregistrar.h>

#include <algorithm>

#include "link.h"

namespace XSI {

PluginItem::PluginItem(const CRef& in_ref)
    : SIObject(in_ref, in_ref.GetClassID() == siPluginItemID || in_ref.GetClassID() == siFilterID) {}

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
        const Object* obj = detail::bound_host()->store().find(item.GetHandle());
        return obj && obj->name == name.view();
    });
    if (taken) return PluginItem();
    auto& item = detail::make_object<PluginItemObject>(false, cls, name.str());
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
