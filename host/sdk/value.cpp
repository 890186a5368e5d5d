#include <xsi_value.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "link.h"

namespace XSI {

namespace {
CValue g_scratch_value;
const CValue k_empty_value;
}  // namespace

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
            return detail::parse_decimal(Str().view(), d) ? d : 0.0;
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
            if (!detail::parse_decimal(Str().view(), d)) return 0;
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
