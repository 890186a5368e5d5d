// CValue: a variant (empty, number, bool, string or reference); CValueArray: a list of them.
//
// An empty value converts to 0, false, "" and the empty reference. Numbers and references are held
// inline: making or copying such a value never allocates.
#pragma once

#include <new>
#include <utility>
#include <vector>

#include "xsi_ref.h"

namespace XSI {

class SICPPSDKIMPEXP CValue {
public:
    enum DataType : LONG {
        siEmpty = 0,
        siInt4 = 3,
        siDouble = 5,
        siString = 8,
        siBool = 11,
        siRef = 13,
    };

    CValue() = default;
    CValue(double in_val) : m_type(siDouble) { m_u.d = in_val; }
    CValue(LONG in_val) : m_type(siInt4) { m_u.l = in_val; }
    CValue(bool in_val) : m_type(siBool) { m_u.b = in_val; }
    CValue(const CString& in_val) : m_type(siString) { new (m_u.s) CString(in_val); }
    CValue(const wchar_t* in_val) : m_type(siString) { new (m_u.s) CString(in_val); }
    CValue(const CRef& in_val) : m_type(siRef) { m_u.r = in_val.GetHandle(); }

    // The text lives in the value only while it holds one, so that copying or dropping a number or a
    // reference never goes through the string's code.
    CValue(const CValue& in_val) : m_type(in_val.m_type) { CopyFrom(in_val); }
    CValue(CValue&& in_val) noexcept : m_type(in_val.m_type) { MoveFrom(in_val); }
    CValue& operator=(const CValue& in_val) {
        if (this != &in_val) {
            if (m_type == siString && in_val.m_type == siString) {
                Str() = in_val.Str();
            } else {
                Release();
                m_type = in_val.m_type;
                CopyFrom(in_val);
            }
        }
        return *this;
    }
    CValue& operator=(CValue&& in_val) noexcept {
        if (this != &in_val) {
            Release();
            m_type = in_val.m_type;
            MoveFrom(in_val);
        }
        return *this;
    }
    ~CValue() { Release(); }

    DataType GetType() const { return m_type; }
    bool IsEmpty() const { return m_type == siEmpty; }

    // Conversions. Text converts to a number when it is one, else to 0; a reference converts to
    // nothing but a reference.
    operator double() const;
    operator LONG() const { return m_type == siInt4 ? m_u.l : ToLong(); }
    operator bool() const;
    operator CRef() const { return m_type == siRef ? CRef(m_u.r) : CRef(); }
    operator CString() const;

    // Text form: numbers in their shortest round-trip decimal form, true/false, a reference's full name.
    CString GetAsText() const;

    bool operator==(const CValue& in_val) const;
    bool operator!=(const CValue& in_val) const { return !(*this == in_val); }

private:
    LONG ToLong() const;  // every type but siInt4
    CString& Str() { return *std::launder(reinterpret_cast<CString*>(m_u.s)); }
    const CString& Str() const { return *std::launder(reinterpret_cast<const CString*>(m_u.s)); }
    // Both expect m_type to be in_val's type already. Each kind is copied as itself: a number is
    // read with the width it was written with (a wider read over narrower stores just made would
    // stall on store forwarding), and the room kept for a string is never copied for a number.
    void CopyFrom(const CValue& in_val) {
        if (m_type == siString)
            new (m_u.s) CString(in_val.Str());
        else
            CopyScalar(in_val);
    }
    void MoveFrom(CValue& in_val) {
        if (m_type == siString)
            new (m_u.s) CString(std::move(in_val.Str()));
        else
            CopyScalar(in_val);
    }
    void CopyScalar(const CValue& in_val) {
        switch (m_type) {
            case siDouble: m_u.d = in_val.m_u.d; break;
            case siInt4: m_u.l = in_val.m_u.l; break;
            case siBool: m_u.b = in_val.m_u.b; break;
            case siRef: m_u.r = in_val.m_u.r; break;
            default: break;
        }
    }
    void Release() {
        if (m_type == siString) Str().~CString();
        m_type = siEmpty;
    }

    DataType m_type = siEmpty;
    union Storage {
        Storage() {}  // each constructor writes the member its type uses; nothing reads the others
        double d;
        LONG l;
        bool b;
        CRef::Handle r;
        alignas(CString) unsigned char s[sizeof(CString)];  // a CString while m_type is siString
    } m_u;
};

class SICPPSDKIMPEXP CValueArray {
public:
    // Up to kInline values are kept in the array itself: the one-argument arrays of late-bound calls
    // do not allocate.
    explicit CValueArray(LONG in_size = 0) : m_count(in_size > 0 ? in_size : 0) {
        if (m_count > kInline) m_spill.resize(static_cast<std::size_t>(m_count));
    }

    LONG GetCount() const { return m_count; }
    // Out-of-range indices give an empty value (and, for writing, a scratch value).
    const CValue& operator[](LONG in_index) const {
        return in_index >= 0 && in_index < m_count ? Data()[in_index] : EmptyValue();
    }
    CValue& operator[](LONG in_index) {
        return in_index >= 0 && in_index < m_count ? Data()[in_index] : ScratchValue();
    }
    CStatus Add(const CValue& in_val) {
        if (m_count < kInline) {
            m_inline[m_count] = in_val;
        } else {
            if (m_count == kInline) m_spill.assign(m_inline, m_inline + kInline);
            m_spill.push_back(in_val);  // in_val may be one of m_inline: they are cleared only after
            if (m_count == kInline)
                for (CValue& v : m_inline) v = CValue();
        }
        ++m_count;
        return CStatus::OK;
    }
    void Clear() {
        for (CValue& v : m_inline) v = CValue();
        m_spill.clear();
        m_count = 0;
    }

private:
    static constexpr LONG kInline = 2;
    CValue* Data() { return m_count <= kInline ? m_inline : m_spill.data(); }
    const CValue* Data() const { return m_count <= kInline ? m_inline : m_spill.data(); }
    static const CValue& EmptyValue();
    static CValue& ScratchValue();  // reset to empty on each call

    LONG m_count = 0;
    CValue m_inline[kInline];     // the items while there are at most kInline
    std::vector<CValue> m_spill;  // all the items once there are more
};

}  // namespace XSI
