#include "fresh_host.h"

#include <gtest/gtest.h>

#include <iostream>
#include <memory>

#include "plugin_registry.h"

namespace torvel::test {

namespace {

struct FreshHost {
    host::Host host;
    host::HostScope bound{host};
};

std::unique_ptr<FreshHost> g_current;

// Starts before the test's fixture is made and ends after it is gone.
class FreshHostListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { g_current = std::make_unique<FreshHost>(); }
    void OnTestEnd(const ::testing::TestInfo&) override {
        try {
            g_current->host.plugins().shutdown();
        } catch (const std::exception& e) {
            std::cerr << "plug-in shutdown after the test: " << e.what() << '\n';
        }
        g_current.reset();
    }
};

const bool g_installed = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshHostListener);
    return true;
}();

}  // namespace

host::Host& host() {
    if (!g_current) {
        ADD_FAILURE() << "no test is running: there is no test host";
        std::abort();
    }
    return g_current->host;
}

}  // namespace torvel::test
