// CString: the SDK's wide-character string, a value type.
//
// Texts of up to kInline - 1 characters (every name a plug-in passes to a late-bound call or an
// attribute lookup) are kept in the string itself, so building one from a literal never allocates;
// longer texts go to the heap.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "xsi_decl.h"

namespace XSI {

namespace detail {
template <class P>
concept WidePointer = std::is_same_v<P, const wchar_t*> || std::is_same_v<P, wchar_t*>;
}  // namespace detail

class SICPPSDKIMPEXP CString {
public:
    CString() noexcept { m_inline[0] = L'\0'; }
    // A text in an array, in practice a literal: measured within the array, which for a literal the
    // compiler does while compiling, so that the construction is a few stores.
    template <std::size_t N>
    CString(const wchar_t (&in_str)[N]) {
        std::size_t n = 0;
        while (n < N && in_str[n] != L'\0') ++n;
        Init(in_str, n);
    }
    // A terminated text; null reads as "".
    template <detail::WidePointer P>
    CString(P in_str) {
        InitFromText(in_str ? in_str : L"");
    }
    CString(std::nullptr_t) noexcept : CString() {}
    explicit CString(std::wstring in_str) { Init(in_str.data(), in_str.size()); }

    CString(const CString& in_str) { Init(in_str.m_data, in_str.m_length); }
    CString(CString&& in_str) noexcept { Take(in_str); }
    CString& operator=(const CString& in_str) {
        if (this != &in_str) Assign(in_str.m_data, in_str.m_length);
        return *this;
    }
    CString& operator=(CString&& in_str) noexcept {
        if (this != &in_str) {
            Free();
            Take(in_str);
        }
        return *this;
    }
    ~CString() { Free(); }

    const wchar_t* GetWideString() const { return m_data; }
    ULONG Length() const { return static_cast<ULONG>(m_length); }
    bool IsEmpty() const { return m_length == 0; }
    void Clear() {
        m_length = 0;
        m_data[0] = L'\0';
    }

    CString& operator+=(const CString& in_str) { return Append(in_str.m_data, in_str.m_length); }
    CString& operator+=(const wchar_t* in_str) { return in_str ? Append(in_str, Measure(in_str)) : *this; }

    friend CString operator+(const CString& a, const CString& b) {
        CString r(a);
        r += b;
        return r;
    }
    friend CString operator+(const CString& a, const wchar_t* b) {
        CString r(a);
        r += b;
        return r;
    }
    friend CString operator+(const wchar_t* a, const CString& b) {
        CString r(a);
        r += b;
        return r;
    }

    bool operator==(const CString& in_str) const { return view() == in_str.view(); }
    bool operator==(const wchar_t* in_str) const {
        return in_str ? view() == std::wstring_view(in_str, Measure(in_str)) : m_length == 0;
    }
    bool operator!=(const CString& in_str) const { return !(*this == in_str); }
    bool operator<(const CString& in_str) const { return view() < in_str.view(); }

    // Host side: the text as a standard string (a copy) or a view of it.
    std::wstring str() const { return std::wstring(m_data, m_length); }
    std::wstring_view view() const { return std::wstring_view(m_data, m_length); }

private:
    static constexpr std::size_t kInline = 24;  // characters held in place, the terminator included

    // Inline (no call to wcslen): the names passed to the SDK are a few characters long.
    static std::size_t Measure(const wchar_t* in_str) {
        std::size_t n = 0;
        while (in_str[n] != L'\0') ++n;
        return n;
    }
    bool OnHeap() const { return m_data != m_inline; }
    void Free() {
        if (OnHeap()) delete[] m_data;
    }
    // Construction from a terminated text: one pass copies and measures a short one (no call to
    // wcslen or memcpy for the few characters of a name); a longer one is left to InitLong.
    void InitFromText(const wchar_t* in_str) {
        for (std::size_t n = 0; n < kInline - 1; ++n) {
            const wchar_t c = in_str[n];
            if (c == L'\0') {
                m_inline[n] = L'\0';
                m_length = n;
                return;
            }
            m_inline[n] = c;
        }
        InitLong(in_str);
    }
    // Out of line (values.cpp): a text of kInline - 1 characters or more.
    void InitLong(const wchar_t* in_str);
    // Construction: room for `in_length` characters, then the copy.
    void Init(const wchar_t* in_str, std::size_t in_length) {
        m_length = in_length;
        if (in_length < kInline) {
            m_data = m_inline;
            m_capacity = kInline - 1;
        } else {
            m_data = new wchar_t[in_length + 1];
            m_capacity = in_length;
        }
        if (in_length) std::memcpy(m_data, in_str, in_length * sizeof(wchar_t));
        m_data[in_length] = L'\0';
    }
    void Assign(const wchar_t* in_str, std::size_t in_length) {
        if (in_length > m_capacity) {
            CString copy;
            copy.Init(in_str, in_length);
            *this = std::move(copy);
            return;
        }
        std::memmove(m_data, in_str, in_length * sizeof(wchar_t));
        m_length = in_length;
        m_data[in_length] = L'\0';
    }
    // `in_str` may point into this string.
    CString& Append(const wchar_t* in_str, std::size_t in_length) {
        const std::size_t total = m_length + in_length;
        if (total > m_capacity) {
            std::size_t capacity = 2 * m_capacity;
            if (capacity < total) capacity = total;
            wchar_t* grown = new wchar_t[capacity + 1];
            std::memcpy(grown, m_data, m_length * sizeof(wchar_t));
            std::memcpy(grown + m_length, in_str, in_length * sizeof(wchar_t));
            Free();
            m_data = grown;
            m_capacity = capacity;
        } else {
            std::memmove(m_data + m_length, in_str, in_length * sizeof(wchar_t));
        }
        m_length = total;
        m_data[total] = L'\0';
        return *this;
    }
    // Move construction: the heap block changes hands, inline text is copied; `in_str` is left empty.
    void Take(CString& in_str) noexcept {
        m_length = in_str.m_length;
        m_capacity = in_str.m_capacity;
        if (in_str.OnHeap()) {
            m_data = in_str.m_data;
        } else {
            m_data = m_inline;
            std::memcpy(m_inline, in_str.m_inline, (m_length + 1) * sizeof(wchar_t));
        }
        in_str.m_data = in_str.m_inline;
        in_str.m_capacity = kInline - 1;
        in_str.m_length = 0;
        in_str.m_inline[0] = L'\0';
    }

    wchar_t* m_data = m_inline;  // m_inline, or a heap block of m_capacity + 1 characters
    std::size_t m_length = 0;
    std::size_t m_capacity = kInline - 1;
    wchar_t m_inline[kInline];
};

}  // namespace XSI
