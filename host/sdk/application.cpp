#include <xsi_application.h>

#include "resolve.h"

namespace XSI {

using namespace torvel::host;

Application::Application() : SIObject(host().application_ref(), true) {}

CStatus Application::LogMessage(const CString& in_message, siSeverityType in_severity) const {
    host().log().add(in_severity, in_message.str());
    return CStatus::OK;
}

CScriptErrorDescriptor Application::ExecuteScriptCode(const CString& in_code, const CString& in_language) {
    host().record_script_run(in_code.str(), in_language.str());
    const ScriptResult result = run_script(host(), in_code.view(), in_language.view());
    if (result.ok) return CScriptErrorDescriptor();
    return CScriptErrorDescriptor(CStatus::Fail, CString(result.message), result.line);
}

Desktop Application::GetDesktop() const { return Desktop(host().desktop_ref()); }

Desktop::Desktop(const CRef& in_ref) : CBase(in_ref, in_ref.GetClassID() == siDesktopID) {}

CStatus Desktop::RedrawUI() {
    if (!IsValid()) return CStatus::Fail;
    host().redraw();
    return CStatus::OK;
}

}  // namespace XSI
