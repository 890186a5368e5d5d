// CString: the SDK's wide-character string, a value type.
#pragma once

#include <string>
#include <string_view>

#include "xsi_decl.h"

namespace XSI {

class SICPPSDKIMPEXP CString {
public:
    CString() = default;
    CString(const wchar_t* in_str) : m_str(in_str ? in_str : L"") {}
    explicit CString(std::wstring in_str) : m_str(std::move(in_str)) {}

    const wchar_t* GetWideString() const { return m_str.c_str(); }
    ULONG Length() const { return static_cast<ULONG>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Clear() { m_str.clear(); }

    CString& operator+=(const CString& in_str) { m_str += in_str.m_str; return *this; }
    CString& operator+=(const wchar_t* in_str) { if (in_str) m_str += in_str; return *this; }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_str + b.m_str); }
    friend CString operator+(const CString& a, const wchar_t* b) { CString r(a); r += b; return r; }
    friend CString operator+(const wchar_t* a, const CString& b) { CString r(a); r += b; return r; }

    bool operator==(const CString& in_str) const { return m_str == in_str.m_str; }
    bool operator==(const wchar_t* in_str) const { return m_str == (in_str ? in_str : L""); }
    bool operator!=(const CString& in_str) const { return !(*this == in_str); }
    bool operator<(const CString& in_str) const { return m_str < in_str.m_str; }

    // Host side: the text as a standard string.
    const std::wstring& str() const { return m_str; }
    std::wstring_view view() const { return m_str; }

private:
    std::wstring m_str;
};

}  // namespace XSI
