// Library entry points: identity and item registration on load; on unload, a log line, the host's
// selection filter reset to polygon meshes and a user-interface redraw.
#include <xsi_application.h>
#include <xsi_pluginregistrar.h>

#include "names.h"
#include "poly_torvel_filer.h"

using namespace XSI;

XSIPLUGINCALLBACK CStatus XSILoadPlugin(PluginRegistrar& in_reg) {
    // A refused registration is the host's to report; loading still succeeds.
    in_reg.PutAuthor(L"Torvel Filter developers");
    in_reg.PutName(L"C++ Torvel Filter Plug-in");
    in_reg.PutEmail(L"");
    in_reg.PutURL(L"");
    in_reg.PutVersion(1, 0);
    in_reg.RegisterFilter(torvel_filter::kFilterName, siFilterSubComponentPolygon);
    in_reg.RegisterProperty(torvel_filter::kPropertyName);
    return CStatus::OK;
}

XSIPLUGINCALLBACK CStatus XSIUnloadPlugin(const PluginRegistrar& in_reg) {
    Application app;
    app.LogMessage(in_reg.GetName() + L" has been unloaded.", torvel_filter::kLogSeverity);
    Desktop desktop = app.GetDesktop();
    // The redraw happens whether or not the script succeeded.
    app.ExecuteScriptCode(L"SetSelFilter \"PolygonMesh\"", torvel_filter::kScriptLanguage);
    desktop.RedrawUI();
    return CStatus::OK;
}
