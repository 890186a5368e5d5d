// Application: the running host. Desktop: its user interface. CScriptErrorDescriptor: the outcome of a
// script run.
#pragma once

#include "xsi_siobject.h"

namespace XSI {

class SICPPSDKIMPEXP CScriptErrorDescriptor : public CStatus {
public:
    CScriptErrorDescriptor() = default;
    CScriptErrorDescriptor(CStatus::Code in_code, const CString& in_description, LONG in_line)
        : CStatus(in_code), m_description(in_description), m_line(in_line) {}

    CString GetDescription() const { return m_description; }
    // 1-based line of the failing command, 0 when the run succeeded or failed before any line.
    LONG GetErrorLineNumber() const { return m_line; }

private:
    CString m_description;
    LONG m_line = 0;
};

class SICPPSDKIMPEXP Desktop : public CBase {
public:
    Desktop() = default;
    Desktop(const CRef& in_ref);
    // Asks the host to redraw its user interface.
    CStatus RedrawUI();
};

class SICPPSDKIMPEXP Application : public SIObject {
public:
    Application();

    // Appends one line to the host's message log.
    CStatus LogMessage(const CString& in_message, siSeverityType in_severity = siInfoMsg) const;
    // Runs host command lines, one per line; `in_language` must be "VBScript" (any case). A failure
    // is also logged at siErrorMsg.
    CScriptErrorDescriptor ExecuteScriptCode(const CString& in_code, const CString& in_language);
    Desktop GetDesktop() const;
};

}  // namespace XSI
