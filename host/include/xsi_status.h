// CStatus: the result code of an SDK call. Code 0 (OK) is success.
#pragma once

#include "xsi_decl.h"

namespace XSI {

class CStatus {
public:
    enum Code : LONG {
        OK = 0,
        False = 1,
        Fail = -1,
        InvalidArgument = -2,
        MemberNotFound = -3,
        AccessDenied = -4,
        NotImpl = -5,
        Unexpected = -6,
        OutOfRange = -7,
    };

    CStatus(Code in_code = OK) : m_code(in_code) {}

    Code GetCode() const { return m_code; }
    bool Succeeded() const { return m_code >= 0; }
    void PutCode(Code in_code) { m_code = in_code; }
    bool operator==(Code in_code) const { return m_code == in_code; }
    bool operator==(const CStatus& in_st) const { return m_code == in_st.m_code; }

private:
    Code m_code;
};

}  // namespace XSI
