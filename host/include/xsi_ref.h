// CRef: a reference to a scene object or component; CRefArray: a list of them.
//
// A reference is a small value (the kind of object, which object, which of its components); copying
// one never allocates. A default-constructed reference, or one to an object that no longer exists, is
// empty: GetClassID() gives 0 and it converts to false.
#pragma once

#include <cstddef>

#include "detail/mesh_table.h"
#include "xsi_status.h"
#include "xsi_string.h"

namespace XSI {

class SICPPSDKIMPEXP CRef {
public:
    // The host's handle behind a reference (see detail/mesh_table.h).
    using Handle = detail::RefHandle;

    CRef() = default;
    explicit CRef(const Handle& in_handle) : m_handle(in_handle) {}

    // Resolves an object name: a full name ("Scene_Root.cube.prop") or a name relative to the scene
    // root. A name that denotes nothing leaves the reference empty and returns CStatus::Fail.
    CStatus Set(const CString& in_name);

    // Inline for polygons, edges and vertices.
    siClassID GetClassID() const { return detail::class_id(m_handle); }
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
    explicit CRefArray(LONG in_size = 0);
    CRefArray(const CRefArray& in_array);
    CRefArray(CRefArray&& in_array) noexcept { Take(in_array); }
    CRefArray& operator=(const CRefArray& in_array);
    CRefArray& operator=(CRefArray&& in_array) noexcept {
        if (this != &in_array) {
            Free();
            Take(in_array);
        }
        return *this;
    }
    ~CRefArray() { Free(); }

    LONG GetCount() const { return static_cast<LONG>(m_count); }
    // Out-of-range indices give an empty reference (and, for writing, a scratch reference).
    const CRef& operator[](LONG in_index) const {
        return in_index >= 0 && in_index < GetCount() ? m_items[in_index] : EmptyRef();
    }
    CRef& operator[](LONG in_index) {
        return in_index >= 0 && in_index < GetCount() ? m_items[in_index] : ScratchRef();
    }
    CRef GetItem(LONG in_index) const { return (*this)[in_index]; }
    CStatus Add(const CRef& in_ref) {
        const CRef item = in_ref;  // `in_ref` may be one of the items, which Grow moves
        if (m_count == m_capacity) Grow(m_count + 1);
        m_items[m_count++] = item;
        return CStatus::OK;
    }
    void Clear() { m_count = 0; }
    void Reserve(LONG in_count) {
        if (in_count > 0 && static_cast<std::size_t>(in_count) > m_capacity) Grow(static_cast<std::size_t>(in_count));
    }

    // The items' texts separated by commas.
    CString GetAsText() const;

private:
    static const CRef& EmptyRef();
    static CRef& ScratchRef();  // reset to empty on each call

    // Out of line (values.cpp). Room for at least `in_count` items, keeping the current ones. A large
    // array is mapped memory that grows in place or is moved by the kernel, never copied: an array of
    // every polygon of a big mesh, built one Add at a time, costs no copies and no second page faults.
    void Grow(std::size_t in_count);
    void Free() noexcept;
    void Take(CRefArray& in_array) noexcept {
        m_items = in_array.m_items;
        m_count = in_array.m_count;
        m_capacity = in_array.m_capacity;
        in_array.m_items = nullptr;
        in_array.m_count = in_array.m_capacity = 0;
    }

    CRef* m_items = nullptr;
    std::size_t m_count = 0;
    std::size_t m_capacity = 0;
};

}  // namespace XSI
