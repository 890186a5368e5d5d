// Internal to the SDK library and the host core: the SDK's one way to the running host. The SDK is built
// without the host core: it reads the core's object model inline (objects.h) and asks for everything
// else through this interface, which the host implements (torvel::host::Host), of the host bound to the
// current scope. A host binds itself with HostScope (host.h) around every call into a plug-in; the
// program and the tests bind theirs for as long as they use SDK wrappers themselves. Everything here
// runs on the host's thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <xsi_decl.h>

#include "log.h"
#include "objects.h"
#include "script.h"

namespace XSI::detail {

using torvel::host::Log;
using torvel::host::Object;
using torvel::host::ScriptResult;
using torvel::host::Store;

class HostLink {
public:
    // Inline: the SDK reads objects on every call, the plug-in's walk included.
    Store& store() const { return *store_; }

    virtual Log& log() = 0;
    virtual CRef application_ref() const = 0;
    virtual CRef desktop_ref() const = 0;
    virtual void redraw() = 0;
    virtual std::wstring full_name(const CRef& ref) const = 0;
    // SIObject::PutName; false when the host refuses the name.
    virtual bool rename(const CRef& object, const std::wstring& name) = 0;
    // A full name or a name relative to the scene root; empty when nothing matches.
    virtual CRef resolve(std::wstring_view name) const = 0;
    // Application::ExecuteScriptCode: records the run, then runs it with the host's commands.
    virtual ScriptResult execute_script(std::wstring_view code, std::wstring_view language) = 0;
    // Store::make for the SDK, which has no link to the store's out-of-line code. `transient`: the
    // object belongs to the innermost store scope (the callback that made it).
    virtual Object& adopt(std::unique_ptr<Object> object, bool transient) = 0;

protected:
    explicit HostLink(Store& store) : store_(&store) {}
    ~HostLink() = default;

private:
    Store* store_;
};

// Makes `link` the host the SDK serves (null: none) and returns the one it replaces. Called by
// HostScope only. The mesh table the SDK's inline accessors read follows the bound host's store.
SICPPSDKIMPEXP HostLink* exchange_host(HostLink* link);

}  // namespace XSI::detail
