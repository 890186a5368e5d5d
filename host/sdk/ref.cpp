#include <xsi_ref.h>

#include <cstring>
#include <type_traits>

#include "link.h"

namespace XSI {

CStatus CRef::Set(const CString& in_name) {
    XSI::detail::HostLink* host = detail::bound_host();
    *this = host ? host->resolve(in_name.view()) : CRef();
    return IsValid() ? CStatus::OK : CStatus::Fail;
}

CString CRef::GetAsText() const {
    const XSI::detail::HostLink* host = detail::bound_host();
    return host ? CString(host->full_name(*this)) : CString();
}

namespace {
CRef g_scratch_ref;
const CRef k_empty_ref;
}  // namespace

const CRef& CRefArray::EmptyRef() { return k_empty_ref; }

CRef& CRefArray::ScratchRef() {
    g_scratch_ref = CRef();
    return g_scratch_ref;
}

CString CRefArray::GetAsText() const {
    std::wstring text;
    for (std::size_t i = 0; i < m_count; ++i) {
        if (i) text += L',';
        if (const XSI::detail::HostLink* host = detail::bound_host()) text += host->full_name(m_items[i]);
    }
    return CString(std::move(text));
}

namespace {

static_assert(std::is_trivially_copyable_v<CRef>, "CRefArray moves its items as bytes");

// Arrays of a megabyte or more are mapped blocks (see detail/mesh_table.h) whose size is a whole number of pages.
bool is_mapped(std::size_t capacity) { return capacity * sizeof(CRef) >= detail::kLargeBlockBytes; }

}  // namespace

CRefArray::CRefArray(LONG in_size) {
    if (in_size <= 0) return;
    Grow(static_cast<std::size_t>(in_size));
    std::fill_n(m_items, in_size, CRef());
    m_count = static_cast<std::size_t>(in_size);
}

CRefArray::CRefArray(const CRefArray& in_array) {
    if (in_array.m_count == 0) return;
    Grow(in_array.m_count);
    std::memcpy(m_items, in_array.m_items, in_array.m_count * sizeof(CRef));
    m_count = in_array.m_count;
}

CRefArray& CRefArray::operator=(const CRefArray& in_array) {
    if (this == &in_array) return *this;
    m_count = 0;
    if (in_array.m_count > m_capacity) Grow(in_array.m_count);
    if (in_array.m_count) std::memcpy(m_items, in_array.m_items, in_array.m_count * sizeof(CRef));
    m_count = in_array.m_count;
    return *this;
}

void CRefArray::Grow(std::size_t in_count) {
    if (in_count > PTRDIFF_MAX / sizeof(CRef) / 2) throw std::bad_alloc();
    std::size_t capacity = std::max({in_count, 2 * m_capacity, std::size_t{4}});
    void* grown = nullptr;
    if (!is_mapped(capacity)) {
        grown = std::realloc(m_items, capacity * sizeof(CRef));
        if (!grown) throw std::bad_alloc();
    } else {
        std::size_t bytes = capacity * sizeof(CRef);
        if (is_mapped(m_capacity)) {
            grown = detail::grow_block(m_items, m_capacity * sizeof(CRef), bytes);
        } else {
            grown = detail::acquire_block(bytes);
            if (m_count) std::memcpy(grown, m_items, m_count * sizeof(CRef));
            std::free(m_items);
        }
        capacity = bytes / sizeof(CRef);
    }
    m_items = static_cast<CRef*>(grown);
    m_capacity = capacity;
}

void CRefArray::Free() noexcept {
    if (is_mapped(m_capacity))
        detail::release_block(m_items, m_capacity * sizeof(CRef));
    else
        std::free(m_items);
    m_items = nullptr;
    m_count = m_capacity = 0;
}

}  // namespace XSI
