// The host's own script commands, which plug-ins run through Application::ExecuteScriptCode:
// SIAddProp (adds a property of a registered kind), SetSelFilter and LogMessage. They sit on top of
// the script engine and the plug-in registry, and are registered in every host's command table.
#pragma once

namespace torvel::host {

class Host;

void register_host_commands(Host& host);

}  // namespace torvel::host
