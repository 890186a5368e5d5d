// CValue: a variant (empty, number, bool, string or reference); CValueArray: a list of them.
//
// An empty value converts to 0, false, "" and the empty reference. Numbers and references are held
// inline: making or copying such a value never allocates.
#pragma once

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
    CValue(const CString& in_val) : m_type(siString), m_str(in_val) {}
    CValue(const wchar_t* in_val) : m_type(siString), m_str(in_val) {}
    CValue(const CRef& in_val) : m_type(siRef) { m_u.r = in_val.GetHandle(); }

    DataType GetType() const { return m_type; }
    bool IsEmpty() const { return m_type == siEmpty; }

    // Conversions. Text converts to a number when it is one, else to 0; a reference converts to
    // nothing but a reference.
    operator double() const;
    operator LONG() const;
    operator bool() const;
    operator CRef() const;
    operator CString() const;

    // Text form: numbers in their shortest round-trip decimal form, true/false, a reference's full name.
    CString GetAsText() const;

    bool operator==(const CValue& in_val) const;
    bool operator!=(const CValue& in_val) const { return !(*this == in_val); }

private:
    DataType m_type = siEmpty;
    union {
        double d;
        LONG l;
        bool b;
        CRef::Handle r;
    } m_u{};
    CString m_str;
};

class SICPPSDKIMPEXP CValueArray {
public:
    explicit CValueArray(LONG in_size = 0) : m_items(in_size > 0 ? static_cast<std::size_t>(in_size) : 0) {}

    LONG GetCount() const { return static_cast<LONG>(m_items.size()); }
    const CValue& operator[](LONG in_index) const;
    CValue& operator[](LONG in_index);
    CStatus Add(const CValue& in_val) { m_items.push_back(in_val); return CStatus::OK; }
    void Clear() { m_items.clear(); }

private:
    std::vector<CValue> m_items;
};

}  // namespace XSI
