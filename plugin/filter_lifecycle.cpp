// Lifecycle callbacks of the filter item: each logs one line naming the filter; Init also makes sure
// the settings property exists under the scene root.
#include <xsi_application.h>
#include <xsi_context.h>
#include <xsi_filter.h>

#include "mydic.h"
#include "names.h"
#include "poly_torvel_filer.h"

using namespace XSI;

namespace {

// Logs `in_prefix` followed directly by the name of the filter that is the context's source.
void log_filter_event(Application& in_app, const CRef& in_context, const wchar_t* in_prefix) {
    Context ctxt(in_context);
    Filter filter(ctxt.GetSource());
    in_app.LogMessage(in_prefix + filter.GetName(), torvel_filter::kLogSeverity);
}

}  // namespace

XSIPLUGINCALLBACK CStatus Vn_TorvelFilter_Init(const CRef& in_context) {
    Application app;
    log_filter_event(app, in_context, L"Initiializing C++ Vn_TorvelFilter :");

    MyDic prop{CString(torvel_filter::kPropertyName)};
    if (!prop.Exis()) {
        // A failing script is reported by the host itself; Init has nothing to add.
        const CString line = CString(L"SIAddProp ") + L"\"" + torvel_filter::kPropertyName + L"\"" +
                             L",\"Scene_Root\" , siDefaultPropagation";
        app.ExecuteScriptCode(line, torvel_filter::kScriptLanguage);
    }
    return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus Vn_TorvelFilter_Unload(const CRef& in_context) {
    Application app;
    log_filter_event(app, in_context, L"Unloading C++ Vn_TorvelFilter: ");
    return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus Vn_TorvelFilter_Reload(const CRef& in_context) {
    Application app;
    log_filter_event(app, in_context, L"Reloading C++ Vn_TorvelFilter: ");
    return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus Vn_TorvelFilter_Term(const CRef& in_context) {
    Application app;
    log_filter_event(app, in_context, L"Terminating C++ Vn_TorvelFilter:");
    return CStatus::OK;
}
