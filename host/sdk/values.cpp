#include <xsi_value.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <type_traits>

#include "blocks.h"

#include "resolve.h"

namespace torvel::host {

bool parse_decimal(std::wstring_view text, double& out) {
    std::string narrow;
    for (wchar_t c : text) {
        if (c > 0x7F) return false;
        narrow += static_cast<char>(c);
    }
    const auto first = narrow.find_first_not_of(" \t");
    const auto last = narrow.find_last_not_of(" \t");
    if (first == std::string::npos) return false;
    const char* b = narrow.data() + first;
    const char* e = narrow.data() + last + 1;
    if (*b == '+') ++b;
    auto [ptr, ec] = std::from_chars(b, e, out);
    return ec == std::errc() && ptr == e;
}

const Object* checked(const CRef& ref) {
    const CRef::Handle& h = ref.GetHandle();
    if (h.classID == XSI::siUnknownClassID) return nullptr;
    const Object* obj = host().store().find(h);
    if (!obj) return nullptr;
    switch (static_cast<siClassID>(h.classID)) {
        case XSI::siPolygonFaceID:
        case XSI::siEdgeID:
        case XSI::siVertexID: {
            if (!MeshObject::accepts(obj->class_id)) return nullptr;
            const Mesh& m = static_cast<const MeshObject*>(obj)->mesh;
            const std::uint32_t count = h.classID == XSI::siPolygonFaceID ? m.polygon_count()
                                        : h.classID == XSI::siEdgeID      ? m.edge_count()
                                                                          : m.vertex_count();
            return h.index < count ? obj : nullptr;
        }
        case XSI::siParameterID:
            return PropertyObject::accepts(obj->class_id) &&
                           h.index < static_cast<const PropertyObject*>(obj)->params.size()
                       ? obj
                       : nullptr;
        case XSI::siPPGLayoutID: return PropertyObject::accepts(obj->class_id) ? obj : nullptr;
        case XSI::siPPGItemID:
            return PropertyObject::accepts(obj->class_id) &&
                           h.index < static_cast<const PropertyObject*>(obj)->layout.size()
                       ? obj
                       : nullptr;
        default: return obj->class_id == static_cast<siClassID>(h.classID) ? obj : nullptr;
    }
}

}  // namespace torvel::host

namespace XSI {

using torvel::host::host;

void CString::InitLong(const wchar_t* in_str) { Init(in_str, Measure(in_str)); }

CStatus CRef::Set(const CString& in_name) {
    *this = host().resolve(in_name.view());
    return IsValid() ? CStatus::OK : CStatus::Fail;
}

siClassID detail::class_of(CRef::Handle in_handle) {
    return torvel::host::checked(CRef(in_handle)) ? static_cast<siClassID>(in_handle.classID) : siUnknownClassID;
}

CString CRef::GetAsText() const { return CString(host().full_name(*this)); }

namespace {
CRef g_scratch_ref;
CValue g_scratch_value;
const CRef k_empty_ref;
const CValue k_empty_value;
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
        text += host().full_name(m_items[i]);
    }
    return CString(std::move(text));
}

namespace {

static_assert(std::is_trivially_copyable_v<CRef>, "CRefArray moves its items as bytes");

// Arrays of a megabyte or more are mapped blocks (see blocks.h) whose size is a whole number of pages.
bool is_mapped(std::size_t capacity) { return capacity * sizeof(CRef) >= torvel::host::kLargeBlockBytes; }

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
            grown = torvel::host::grow_block(m_items, m_capacity * sizeof(CRef), bytes);
        } else {
            grown = torvel::host::acquire_block(bytes);
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
        torvel::host::release_block(m_items, m_capacity * sizeof(CRef));
    else
        std::free(m_items);
    m_items = nullptr;
    m_count = m_capacity = 0;
}

const CValue& CValueArray::EmptyValue() { return k_empty_value; }

CValue& CValueArray::ScratchValue() {
    g_scratch_value = CValue();
    return g_scratch_value;
}

CValue::operator double() const {
    switch (m_type) {
        case siDouble: return m_u.d;
        case siInt4: return m_u.l;
        case siBool: return m_u.b ? 1.0 : 0.0;
        case siString: {
            double d = 0;
            return torvel::host::parse_decimal(Str().view(), d) ? d : 0.0;
        }
        default: return 0.0;
    }
}

LONG CValue::ToLong() const {
    double d = 0;
    switch (m_type) {
        case siInt4: return m_u.l;
        case siBool: return m_u.b ? 1 : 0;
        case siDouble: d = m_u.d; break;
        case siString:
            if (!torvel::host::parse_decimal(Str().view(), d)) return 0;
            break;
        default: return 0;
    }
    // Out-of-range and NaN values convert to 0 rather than to an undefined integer.
    if (!(d > -2147483649.0 && d < 2147483648.0)) return 0;
    return static_cast<LONG>(std::trunc(d));
}

CValue::operator bool() const {
    switch (m_type) {
        case siBool: return m_u.b;
        case siInt4: return m_u.l != 0;
        case siDouble: return m_u.d != 0.0;
        case siString: return Str() == L"true" || Str() == L"True" || static_cast<double>(*this) != 0.0;
        case siRef: return CRef(m_u.r).IsValid();
        default: return false;
    }
}

CValue::operator CString() const { return GetAsText(); }

CString CValue::GetAsText() const {
    switch (m_type) {
        case siDouble: {
            char buf[64];
            auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, m_u.d);
            return CString(std::wstring(buf, ptr));
        }
        case siInt4: return CString(std::to_wstring(m_u.l));
        case siBool: return CString(m_u.b ? L"true" : L"false");
        case siString: return Str();
        case siRef: return CRef(m_u.r).GetAsText();
        default: return CString();
    }
}

bool CValue::operator==(const CValue& in_val) const {
    if (m_type != in_val.m_type) return false;
    switch (m_type) {
        case siDouble: return m_u.d == in_val.m_u.d;
        case siInt4: return m_u.l == in_val.m_u.l;
        case siBool: return m_u.b == in_val.m_u.b;
        case siString: return Str() == in_val.Str();
        case siRef: return m_u.r == in_val.m_u.r;
        default: return true;
    }
}

}  // namespace XSI
