// CRef: a reference to a scene object or component; CRefArray: a list of them.
//
// A reference is a small value (the kind of object, which object, which of its components); copying
// one never allocates. A default-constructed reference, or one to an object that no longer exists, is
// empty: GetClassID() gives 0 and it converts to false.
#pragma once

#include <vector>

#include "xsi_status.h"
#include "xsi_string.h"

namespace XSI {

class SICPPSDKIMPEXP CRef {
public:
    // Host side: the handle behind a reference. `object` and `generation` name an object of the host;
    // `index` names a component of it (polygon, edge, vertex, parameter, layout item) where that applies.
    struct Handle {
        ULONG classID = 0;
        ULONG object = 0;
        ULONG generation = 0;
        ULONG index = 0;
        bool operator==(const Handle&) const = default;
    };

    CRef() = default;
    explicit CRef(const Handle& in_handle) : m_handle(in_handle) {}

    // Resolves an object name: a full name ("Scene_Root.cube.prop") or a name relative to the scene
    // root. A name that denotes nothing leaves the reference empty and returns CStatus::Fail.
    CStatus Set(const CString& in_name);

    siClassID GetClassID() const;
    bool IsA(siClassID in_id) const { return GetClassID() == in_id; }
    bool IsValid() const { return GetClassID() != siUnknownClassID; }
    explicit operator bool() const { return IsValid(); }

    // The full name of the object, or "" for an empty reference.
    CString GetAsText() const;

    bool operator==(const CRef& in_ref) const { return m_handle == in_ref.m_handle; }
    bool operator!=(const CRef& in_ref) const { return !(m_handle == in_ref.m_handle); }

    const Handle& GetHandle() const { return m_handle; }

private:
    Handle m_handle;
};

class SICPPSDKIMPEXP CRefArray {
public:
    explicit CRefArray(LONG in_size = 0) : m_items(in_size > 0 ? static_cast<std::size_t>(in_size) : 0) {}

    LONG GetCount() const { return static_cast<LONG>(m_items.size()); }
    // Out-of-range indices give an empty reference (and, for writing, a scratch reference).
    const CRef& operator[](LONG in_index) const;
    CRef& operator[](LONG in_index);
    CRef GetItem(LONG in_index) const { return (*this)[in_index]; }
    CStatus Add(const CRef& in_ref) { m_items.push_back(in_ref); return CStatus::OK; }
    void Clear() { m_items.clear(); }
    void Reserve(LONG in_count) { if (in_count > 0) m_items.reserve(static_cast<std::size_t>(in_count)); }

    // The items' texts separated by commas.
    CString GetAsText() const;

private:
    std::vector<CRef> m_items;
};

}  // namespace XSI
