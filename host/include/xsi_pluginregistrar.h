// PluginRegistrar: what XSILoadPlugin fills in (identity and items); PluginItem: one registered item.
#pragma once

#include "xsi_siobject.h"

namespace XSI {

class SICPPSDKIMPEXP PluginItem : public SIObject {
public:
    PluginItem() = default;
    PluginItem(const CRef& in_ref);
};

class SICPPSDKIMPEXP PluginRegistrar : public SIObject {
public:
    PluginRegistrar() = default;
    PluginRegistrar(const CRef& in_ref);

    CStatus PutAuthor(const CString& in_author);
    CStatus PutEmail(const CString& in_email);
    CStatus PutURL(const CString& in_url);
    CStatus PutVersion(LONG in_major, LONG in_minor);
    CString GetAuthor() const;
    CString GetEmail() const;
    CString GetURL() const;
    // Path of the library being loaded.
    CString GetFilename() const;

    // Registers a filter / a custom property kind under `in_name`; the host then finds the item's
    // callbacks as exported functions "<in_name>_<Callback>". An empty or already taken name is
    // refused (the returned item is invalid).
    PluginItem RegisterFilter(const CString& in_name, siFilterType in_type);
    PluginItem RegisterProperty(const CString& in_name);
};

}  // namespace XSI
