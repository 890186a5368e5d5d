#include "host_commands.h"

#include <string>

#include "host.h"
#include "plugin_registry.h"
#include "script.h"

namespace torvel::host {

void register_host_commands(Host& host) {
    CommandRegistry& registry = host.commands();
    // SIAddProp preset, target[, propagation]: adds a property of a registered kind under the target.
    registry.add(L"SIAddProp", [&host](const ScriptArgs& args) {
        args.expect_count(2, 3);
        const std::wstring& preset = args.string(0);
        const std::wstring& target_name = args.string(1);
        if (args.size() > 2) {
            const XSI::LONG propagation = args.integer(2);
            if (propagation < XSI::siDefaultPropagation || propagation > XSI::siNodePropagation)
                throw args.argument_error(2, "is not a propagation (0, 1 or 2): " + std::to_string(propagation));
        }
        const ItemInfo* kind = host.plugins().find_item(preset);
        if (!kind || kind->is_filter)
            throw ScriptError("SIAddProp: unknown property preset \"" + to_utf8(preset) + "\"");
        CRef target = host.resolve(target_name);
        if (!host.store().find(target.GetHandle())) throw ScriptError("SIAddProp: no object \"" + to_utf8(target_name) + "\"");
        host.add_property(kind->name, target);
    });

    // SetSelFilter name: sets the host's current selection filter.
    registry.add(L"SetSelFilter", [&host](const ScriptArgs& args) {
        args.expect_count(1, 1);
        const std::wstring& name = args.string(0);
        if (name.empty()) throw args.argument_error(0, "must not be empty");
        host.set_selection_filter(name);
    });

    // LogMessage text[, severity]: appends a line to the message log (siInfoMsg by default).
    registry.add(L"LogMessage", [&host](const ScriptArgs& args) {
        args.expect_count(1, 2);
        const std::wstring& text = args.string(0);
        XSI::LONG severity = XSI::siInfoMsg;
        if (args.size() > 1) {
            severity = args.integer(1);
            switch (severity) {
                case XSI::siFatalMsg:
                case XSI::siErrorMsg:
                case XSI::siWarningMsg:
                case XSI::siInfoMsg:
                case XSI::siVerboseMsg:
                case XSI::siCommentMsg: break;
                default: throw args.argument_error(1, "is not a severity: " + std::to_string(severity));
            }
        }
        host.log().add(static_cast<XSI::siSeverityType>(severity), text);
    });
}

}  // namespace torvel::host
