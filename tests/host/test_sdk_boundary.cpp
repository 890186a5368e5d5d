// The SDK library plug-ins link exports the SDK and nothing else: no host-core symbol leaks into its
// dynamic symbol table, whatever the host core's headers put inline into it. (That every public SDK
// header compiles on its own is checked by building sdk_headers_alone.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "symbols.h"

namespace {

TEST(SdkBoundary, ExportsTheSdkAndNoHostCoreSymbol) {
    const auto names = torvel::test::defined_dynamic_symbols(SICPPSDK_PATH, true);
    if (!names) GTEST_SKIP() << "nm cannot be run";
    for (const std::string& name : *names) {
        EXPECT_EQ(name.find("torvel::"), std::string::npos) << "host-core symbol exported: " << name;
        // Everything else the library defines is the SDK's, a standard template instantiated on its types,
        // or a sanitizer's marker for one of them.
        const bool sdk = name.find("XSI::") != std::string::npos || name.find("3XSI") != std::string::npos;
        EXPECT_TRUE(sdk || name.starts_with("std::") || name.starts_with("void std::") ||
                    name.starts_with("__gnu_cxx::") || name.find(" std::") != std::string::npos ||
                    name.find(" __gnu_cxx::") != std::string::npos)
            << "exported: " << name;
    }
    for (const char* wanted : {"XSI::Application::LogMessage", "XSI::CComAPIHandler::Invoke", "XSI::detail::g_meshes",
                               "XSI::PluginRegistrar::RegisterFilter"})
        EXPECT_TRUE(std::any_of(names->begin(), names->end(), [&](const std::string& n) { return n.starts_with(wanted); }))
            << wanted << " is not exported";
}

}  // namespace
