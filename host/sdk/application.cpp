#include <xsi_application.h>

#include "link.h"

namespace XSI {

namespace {

CRef application_ref() {
    const HostLink* host = detail::bound_host();
    return host ? host->application_ref() : CRef();
}

}  // namespace

Application::Application() : SIObject(application_ref(), true) {}

CStatus Application::LogMessage(const CString& in_message, siSeverityType in_severity) const {
    HostLink* host = detail::bound_host();
    if (!host) return CStatus::Fail;
    host->log().add(in_severity, in_message.str());
    return CStatus::OK;
}

CScriptErrorDescriptor Application::ExecuteScriptCode(const CString& in_code, const CString& in_language) {
    HostLink* host = detail::bound_host();
    if (!host) return CScriptErrorDescriptor(CStatus::Fail, CString(L"no host"), 0);
    const ScriptResult result = host->execute_script(in_code.view(), in_language.view());
    if (result.ok) return CScriptErrorDescriptor();
    const std::wstring where = result.line > 0 ? L"line " + std::to_wstring(result.line) + L": " : L"";
    return CScriptErrorDescriptor(CStatus::Fail, CString(where + result.message), result.line);
}

Desktop Application::GetDesktop() const {
    const HostLink* host = detail::bound_host();
    return Desktop(host ? host->desktop_ref() : CRef());
}

Desktop::Desktop(const CRef& in_ref) : CBase(in_ref, in_ref.GetClassID() == siDesktopID) {}

CStatus Desktop::RedrawUI() {
    if (!IsValid()) return CStatus::Fail;
    detail::bound_host()->redraw();
    return CStatus::OK;
}

}  // namespace XSI
